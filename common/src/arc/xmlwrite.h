// Writers of the XML unit: a parsed (or built) tree written back as XML or
// as JSON, a JSON reader that builds the same kind of tree, and the name
// helper of the record mapping (xmlbook.h).
//
// Documents go to a stream, into a caller's buffer, or both (the buffer
// then takes what fits). With a buffer and no stream the document is ended
// by a NUL, and a document that does not fit is an error (the buffer then
// holds a cut, NUL-ended text).
//
// Trees and JSON: each member is a node tagged with its name; an object is
// a node with children, an array a run of sibling nodes of the same tag
// marked bgnArray, midArray, endArray (one element: bgnArray and endArray);
// an empty array is one such node also marked isNotused; values are kept
// as text (numbers and true/false as written, null as a node without a
// value) and written as JSON strings. A node's attributes are written as
// members "@name" and the text of a node that also has members as "#text";
// the reader turns them back into attributes and text. An array directly
// inside an array has no tag to carry it and is refused.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "xmlparse.h"

// Deepest nesting the writers and the JSON reader accept.
constexpr int kXmlMaxDepth = 64;

// Writes the tree as XML: one element a line (line ends "\r\n" while the
// tree's useCrLf is set, else "\n"), indented by its depth less one, with
// its attributes in double quotes, its text and its children; "<a/>" for
// an element marked isClosed that has neither text nor children. Text and
// attribute values are escaped (& < > and, in attributes, ") so that the
// parser reads back the same tree. Returns 0, or -1 when the tree is
// nested deeper than 64 levels, a tag or attribute name is longer than
// 2559 characters ("PROBLEM! ... wrk is too small" on standard error), the
// buffer is too small or the stream fails.
int XmlWrite(XmlRef ref, FILE* fd, char* buf, size_t buflen);

// Reads one JSON object (from fd when given, else from the first buflen
// bytes of buf) into the tree: its members become the top-level nodes.
// The document is UTF-8; the tree holds one byte a character, so each
// character up to U+00FF (raw or as a \u escape) is stored as that byte.
// Returns 0, or -1 on a syntax error, a member name longer than 1023
// characters, nesting deeper than 64 levels, a character above U+00FF or
// bytes that are not UTF-8 ("#ERROR JSON syntax error at : no string near
// (%s)", "#ERROR JP parse error near %s", "#ERROR what is %c", "#ERROR
// JSON name longer than 1023 characters near %s", "#ERROR JSON nested
// deeper than 64 levels near %s", "#ERROR JSON character U+%04X is above
// U+00FF near %s" or "#ERROR JSON text is not UTF-8 near %s" logged); the
// nodes built before the error stay. What it reads, JsonWrite writes back
// with the same values.
int JsonParse(XmlRef ref, FILE* fd, const char* buf, size_t buflen);

// Writes the tree as one JSON object, one member a line; results as
// XmlWrite.
int JsonWrite(XmlRef ref, FILE* fd, char* buf, size_t buflen);

// The JSON string text of in (length < 0: up to its NUL) into out: '"',
// '\\' and the controls b t n f r as backslash escapes, every other byte
// below 0x20 and every byte from 0x7F on as \u00XX (bytes read as
// Latin-1). Returns out.size().
size_t JsonStrCpy(std::string& out, const char* in, long length);

// A tag from the first up to 8 characters of name (it ends at a blank or a
// control character): '_' becomes 'x', '$' becomes '_', letters lower
// case. Into out (9 bytes) when given, else into a static buffer that the
// next call reuses. Returns the tag.
const char* XmlMorphName(const char* name, char* out);
