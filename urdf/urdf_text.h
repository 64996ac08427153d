// The text of a URDF file before the URDF parser sees it: reading the file, and checking what the
// parser does not check or would not survive. The parser (urdfdom) reads XML with TinyXML, which
// reads character references, encodings and line ends its own way; the names of links and joints
// are therefore checked as TinyXML reads them, so that they compare as the parser's do.
#pragma once

#include <string>

// Reads the regular file at path into text. Returns the problem's text ("cannot open: ...", "not a
// regular file (a FIFO)", ...), or "".
std::string ReadUrdfFile(const std::string& path, std::string& text);

// Checks a description before it is parsed: UTF-8 text (a UTF-16 or UTF-32 file is named as
// such), well-formed XML with a <robot> top element and no DOCTYPE declarations, a bounded number
// of links and joints, and joints that form no closed loop, read as the URDF parser reads them.
// Returns the problem's text, or "".
std::string CheckUrdfText(const std::string& text);

// The line as it can be shown on a terminal or in a window: line breaks become spaces, and every
// other control character (C0, DEL and C1) and every byte that is not part of well-formed UTF-8
// is written as an escape, "\x1b" (C1 characters as "\u009b"), so that text quoted from a file
// cannot move the cursor, change colours or split the line.
std::string PrintableLine(const std::string& line);
