#include "urdf/urdf_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include <tinyxml.h>
#include <tinyxml2.h>

#include "urdf/urdf_loader.h"

namespace {

// More link or joint elements than this are refused before the URDF parser sees them: it keeps
// its links in a chain of shared pointers, whose release recurses once per link when the parser
// itself drops a model.
constexpr std::size_t kMaxElements = 1000;

std::string Quoted(const std::string& name) {
  return "'" + name + "'";
}

std::string TooLarge() {
  return "larger than " + std::to_string(kUrdfMaxFileBytes >> 20) + " MiB";
}

// What a file that is not a regular one is, for the refusal.
const char* KindOf(mode_t mode) {
  return S_ISFIFO(mode)   ? "a FIFO"
         : S_ISCHR(mode)  ? "a character device"
         : S_ISBLK(mode)  ? "a block device"
         : S_ISSOCK(mode) ? "a socket"
                          : "not a file";
}

// The refusal of a file that is not a regular one, or "". A directory keeps the reading error it
// always gave.
std::string NotRegular(mode_t mode) {
  if (S_ISREG(mode)) {
    return "";
  }
  if (S_ISDIR(mode)) {
    return std::string("cannot read: ") + std::strerror(EISDIR);
  }
  return std::string("cannot read: not a regular file (") + KindOf(mode) + ")";
}

// The length of the well-formed UTF-8 sequence at text[i] (no overlong forms, surrogates or code
// points beyond U+10FFFF), or 0 when the byte there does not begin one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned c = byte(i);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the byte after the first
  if (c < 0x80) {
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    low = c == 0xE0 ? 0xA0 : 0x80;
    high = c == 0xED ? 0x9F : 0xBF;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    low = c == 0xF0 ? 0x90 : 0x80;
    high = c == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned next = byte(i + k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
      return 0;
    }
  }
  return length;
}

// The line of the first byte that does not belong to a well-formed UTF-8 sequence, or 0 when there
// is none.
std::size_t FirstLineNotUtf8(const std::string& text) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < text.size();) {
    line += text[i] == '\n' ? 1 : 0;
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      return line;
    }
    i += length;
  }
  return 0;
}

// "UTF-16 (little-endian)" and the like for text in one of the wider encodings, by its byte order
// mark or else by the zero bytes around the first character, which in a URDF file is '<' or
// white space; "" for anything else. UTF-8 text has no zero bytes and neither mark.
std::string WideEncoding(const std::string& text) {
  const auto starts = [&](const char* bytes, std::size_t n) {
    return text.size() >= n && text.compare(0, n, bytes, n) == 0;
  };
  if (starts("\xFF\xFE\0\0", 4)) {
    return "UTF-32 (little-endian)";
  }
  if (starts("\0\0\xFE\xFF", 4)) {
    return "UTF-32 (big-endian)";
  }
  if (starts("\xFF\xFE", 2)) {
    return "UTF-16 (little-endian)";
  }
  if (starts("\xFE\xFF", 2)) {
    return "UTF-16 (big-endian)";
  }
  if (text.size() < 4) {
    return "";
  }
  bool zero[4];
  for (int i = 0; i < 4; ++i) {
    zero[i] = text[static_cast<std::size_t>(i)] == '\0';
  }
  if (!zero[0] && zero[1] && zero[2] && zero[3]) {
    return "UTF-32 (little-endian)";
  }
  if (zero[0] && zero[1] && zero[2] && !zero[3]) {
    return "UTF-32 (big-endian)";
  }
  if (!zero[0] && zero[1] && !zero[2] && zero[3]) {
    return "UTF-16 (little-endian)";
  }
  if (zero[0] && !zero[1] && zero[2] && !zero[3]) {
    return "UTF-16 (big-endian)";
  }
  return "";
}

// "XML_ERROR_MISMATCHED_ELEMENT" as "mismatched element".
std::string Describe(tinyxml2::XMLError error) {
  std::string name = tinyxml2::XMLDocument::ErrorIDToName(error);
  for (const char* prefix : {"XML_ERROR_", "XML_"}) {
    if (name.rfind(prefix, 0) == 0) {
      name.erase(0, std::strlen(prefix));
      break;
    }
  }
  for (char& c : name) {
    c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

// Whether a node before or after the top element declares what the parser cannot take: a DOCTYPE
// with declarations of its own ("<!DOCTYPE robot [ <!ENTITY ...> ]>"), or such a declaration on
// its own. The parser's reader takes the DOCTYPE to end at its first '>' and then finds no
// <robot> element; and the entities declared there would not be replaced in either reading. A
// DOCTYPE that only names its type is read alike by both and passes.
bool DeclaresEntities(const tinyxml2::XMLDocument& document) {
  for (const tinyxml2::XMLNode* n = document.FirstChild(); n; n = n->NextSibling()) {
    const tinyxml2::XMLUnknown* unknown = n->ToUnknown();
    if (unknown == nullptr) {
      continue;
    }
    const std::string value = unknown->Value();
    if (value.find('[') != std::string::npos) {
      return true;
    }
    for (const char* kind : {"ENTITY", "ELEMENT", "ATTLIST", "NOTATION"}) {
      if (value.rfind(kind, 0) == 0) {
        return true;
      }
    }
  }
  return false;
}

// The line of the first processing instruction ("<?...?>") that holds a '<', or 0. The parser's
// reader ends one at its first '>' and would read what follows as elements, nested as deeply as
// the text likes, where this check's reader saw none; it recurses once per level.
int InstructionHoldingElements(const tinyxml2::XMLDocument& document) {
  struct Finder : tinyxml2::XMLVisitor {
    int line = 0;
    bool Visit(const tinyxml2::XMLDeclaration& instruction) override {
      if (std::strchr(instruction.Value(), '<') != nullptr) {
        line = instruction.GetLineNum();
        return false;
      }
      return true;
    }
  } finder;
  document.Accept(&finder);
  return finder.line;
}

// The links and joints as the URDF parser reads them, with its own XML reader called as it calls
// it: the <link> and <joint> children of the first <robot> element, a link's name, and the link
// attributes of a joint's first <parent> and <child>. Reading them any other way could let a name
// written with a character reference, or with a line end the readers treat differently, hide a
// loop: the parser would then keep a loop of links alive forever, or fail with one built. What
// this reader cannot read, the parser reports itself.
std::string CheckLinksAndJoints(const std::string& text) {
  TiXmlDocument document;
  document.Parse(text.c_str());
  const TiXmlElement* robot = document.Error() ? nullptr : document.FirstChildElement("robot");
  if (robot == nullptr) {
    return "";
  }
  std::size_t links = 0, joints = 0;
  for (const auto* e = robot->FirstChildElement("link"); e; e = e->NextSiblingElement("link")) {
    ++links;
  }
  for (const auto* e = robot->FirstChildElement("joint"); e; e = e->NextSiblingElement("joint")) {
    ++joints;
  }
  if (links > kMaxElements || joints > kMaxElements) {
    return "more than " + std::to_string(kMaxElements) + " links or joints";
  }
  std::map<std::string, std::pair<std::string, std::string>> parentOf;  // child: parent, joint
  for (const auto* e = robot->FirstChildElement("joint"); e; e = e->NextSiblingElement("joint")) {
    const TiXmlElement* parent = e->FirstChildElement("parent");
    const TiXmlElement* child = e->FirstChildElement("child");
    const char* parentName = parent ? parent->Attribute("link") : nullptr;
    const char* childName = child ? child->Attribute("link") : nullptr;
    const char* jointName = e->Attribute("name");
    if (parentName == nullptr || childName == nullptr || jointName == nullptr) {
      continue;  // the URDF parser names what is missing
    }
    const auto [it, added] = parentOf.emplace(childName, std::make_pair(parentName, jointName));
    if (!added) {
      return "link " + Quoted(childName) + " is the child of two joints (" +
             Quoted(it->second.second) + " and " + Quoted(jointName) + "), which closes a loop";
    }
  }
  // Each link has at most one parent now; going up from every link must end at a root. The way up
  // is at most as long as there are joints.
  std::map<std::string, int> state;  // 1: on the current way up, 2: leads to a root
  for (const auto& start : parentOf) {
    std::vector<const std::string*> way;
    const std::string* link = &start.first;
    for (;;) {
      int& s = state[*link];
      if (s == 2) {
        break;
      }
      if (s == 1 || way.size() > parentOf.size()) {
        return "the joints form a closed loop through link " + Quoted(*link);
      }
      s = 1;
      way.push_back(link);
      const auto up = parentOf.find(*link);
      if (up == parentOf.end()) {
        break;
      }
      link = &up->second.first;
    }
    for (const std::string* l : way) {
      state[*l] = 2;
    }
  }
  return "";
}

}  // namespace

std::string ReadUrdfFile(const std::string& path, std::string& text) {
  text.clear();
  // The system would take the name only up to a NUL, which names another file.
  if (path.find('\0') != std::string::npos) {
    return "cannot open: the file name holds a NUL character";
  }
  // Only a regular file is read: a FIFO or a terminal would block the program, a device would
  // never end. The type is checked before opening, so that no device is opened at all, and again
  // on what was opened, without blocking, should the path have been replaced in between.
  struct stat before {};
  if (stat(path.c_str(), &before) != 0) {
    return std::string("cannot open: ") + std::strerror(errno);
  }
  if (std::string problem = NotRegular(before.st_mode); !problem.empty()) {
    return problem;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return std::string("cannot open: ") + std::strerror(errno);
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0) {
    const int error = errno;
    close(fd);
    return std::string("cannot read: ") + std::strerror(error);
  }
  if (std::string problem = NotRegular(opened.st_mode); !problem.empty()) {
    close(fd);
    return problem;
  }
  // Reading stops as soon as the text exceeds the size limit.
  char buffer[1 << 16];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      const int error = errno;
      close(fd);
      text.clear();
      return std::string("cannot read: ") + std::strerror(error);
    }
    if (count == 0) {
      break;
    }
    if (text.size() + static_cast<std::size_t>(count) > kUrdfMaxFileBytes) {
      close(fd);
      text.clear();
      return TooLarge();
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
  close(fd);
  return "";
}

// The URDF parser's XML reader skips a multi-byte character by its first byte and reads past the
// end of a text that ends in a cut-off one; it recurses once per level of nesting, which the
// well-formedness check bounds.
std::string CheckUrdfText(const std::string& text) {
  if (text.empty()) {
    return "the file is empty";
  }
  if (text.size() > kUrdfMaxFileBytes) {
    return TooLarge();
  }
  if (const std::string wide = WideEncoding(text); !wide.empty()) {
    return "the file is " + wide + " text; URDF files are UTF-8";
  }
  if (text.find('\0') != std::string::npos) {
    return "malformed XML (a NUL character)";
  }
  if (const std::size_t line = FirstLineNotUtf8(text)) {
    return "not UTF-8 text at line " + std::to_string(line);
  }
  tinyxml2::XMLDocument document;
  const tinyxml2::XMLError error = document.Parse(text.data(), text.size());
  if (error != tinyxml2::XML_SUCCESS) {
    return "malformed XML at line " + std::to_string(document.ErrorLineNum()) + " (" +
           Describe(error) + ")";
  }
  if (DeclaresEntities(document)) {
    return "a DOCTYPE with declarations (<!ENTITY ...> and the like) is not supported";
  }
  if (const int line = InstructionHoldingElements(document)) {
    return "a processing instruction holding '<' at line " + std::to_string(line) +
           " is not supported";
  }
  // The first element must be the <robot> element, so that both readers agree on it.
  const tinyxml2::XMLElement* robot = document.RootElement();
  if (robot == nullptr || std::strcmp(robot->Name(), "robot") != 0) {
    return "the top element is not <robot>";
  }
  return CheckLinksAndJoints(text);
}

std::string PrintableLine(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  char escape[8];
  for (std::size_t i = 0; i < line.size();) {
    const auto c = static_cast<unsigned char>(line[i]);
    const std::size_t length = Utf8Length(line, i);
    if (c == '\n' || c == '\r') {
      out += ' ';
    } else if (length == 0 || c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else if (c == 0xC2 && static_cast<unsigned char>(line[i + 1]) < 0xA0) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(line[i + 1]));
      out += escape;
    } else {
      out.append(line, i, length);
    }
    i += length == 0 ? 1 : length;
  }
  return out;
}
