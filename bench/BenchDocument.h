#pragma once

#include <fstream>

// The benchmark's document: sections of records with attributes, Japanese
// and Latin text and comments, indented by two blanks. The same bytes on
// every run and every machine.
void writeBenchDocument(std::ofstream &out, long long bytes);

// The document's grammar, as a DTD and as an XML Schema.
extern const char kBenchDtd[];
extern const char kBenchXsd[];

// A DocBook 5 article of about `bytes`: sections of titled paragraphs with
// inline markup and links, lists and program listings, valid against
// DocBook 5's RELAX NG grammar. The same bytes on every run.
void writeDocBookDocument(std::ofstream &out, long long bytes);
