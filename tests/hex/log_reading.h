// Reading an HTML log back as a browser shows it, for the log's tests: from
// the file itself, or from the body of the document a real browser made of
// it (re-written by log_dom.py in the same plain form).
//
// The reading knows HTML, not the log's writer: tags with quoted
// attributes, the named entities the log may hold and numeric references;
// <br> ends a line and <p> starts a block; in the text of a line, a run of
// HTML white space (blank, TAB, LF, FF, CR) shows as one blank and none at
// the line's start or end, as a browser lays text out (white-space: normal).
// A no-break space shows as a blank.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct LogRecord {
  std::string colour;  // the font element's color attribute
  std::string shown;   // its characters that are not white space, UTF-8
};

struct LogReading {
  std::vector<std::string> elements;  // every element inside the body, in order
  std::vector<LogRecord> records;     // the font elements, in order
  std::string text;                   // the body's text as shown, UTF-8, '\n' per line break
  std::string fault;                  // what could not be read (empty when all could)
};

// Reads the body of a document (everything when it has no <body> tag). Only
// ASCII is expected: anything else is a fault.
LogReading readLogBody(std::string_view html);

// The characters of UTF-8 text that are not white space (blank, no-break
// space, TAB, LF, FF, CR).
std::string shownCharacters(std::string_view utf8);
