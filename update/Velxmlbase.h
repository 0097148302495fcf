// An XML document loaded from a file, with its root element.
#pragma once

#include <memory>
#include <string>

#include <pugixml.hpp>

namespace kestrune {

class TVelXmlBase {
 public:
  // Nothing is loaded yet: no document, no root, Loaded false.
  explicit TVelXmlBase(const std::string& path);
  virtual ~TVelXmlBase();
  TVelXmlBase(const TVelXmlBase&) = delete;
  TVelXmlBase& operator=(const TVelXmlBase&) = delete;

  // Loads the file (8-bit path; the encoding is detected from the file).
  // On success Root is the document's first element. Answers Loaded.
  bool LoadFromFile(const std::string& path);

  std::unique_ptr<pugi::xml_document> Document;
  pugi::xml_node Root;  // belongs to Document; null until a load succeeds
  bool Loaded = false;
  std::string FileName;
};

}  // namespace kestrune
