#include "update/Velxmlbase.h"

namespace kestrune {

TVelXmlBase::TVelXmlBase(const std::string& path) : FileName(path) {}

TVelXmlBase::~TVelXmlBase() = default;

bool TVelXmlBase::LoadFromFile(const std::string& path) {
  FileName = path;
  if (!Document) {
    Document = std::make_unique<pugi::xml_document>();
  }
  Root = pugi::xml_node();
  Loaded = static_cast<bool>(Document->load_file(FileName.c_str(), pugi::parse_default, pugi::encoding_auto));
  if (Loaded) {
    for (pugi::xml_node child = Document->first_child(); child; child = child.next_sibling()) {
      if (child.type() == pugi::node_element) {
        Root = child;
        break;
      }
    }
  }
  return Loaded;
}

}  // namespace kestrune
