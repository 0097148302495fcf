// WMI queries, and the network check of the install run.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kestrune {

// One result object: property name -> value rendered as text, ordered by
// the names' code units.
using WmiRow = std::map<std::u16string, std::u16string>;

// Runs WQL queries. Each query enters the calling thread into a
// single-threaded COM apartment for its length (or uses the multithreaded
// one it already has) and leaves it again.
class TVelWMI {
 public:
  // Empties Rows and fills it with the query's objects, in the order WMI
  // delivers them; a failed query leaves the rows collected until then
  // (none when it failed before the first). The reference stays valid until
  // the next query or the object's end.
  const std::vector<WmiRow>& Query(const std::u16string& namespacePath, const std::u16string& query);

  std::vector<WmiRow> Rows;
};

// True when WMI reports a connected network adapter on the PCI bus or on
// USB; software adapters do not count.
bool IsNetworkConnected();

}  // namespace kestrune
