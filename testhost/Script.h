// Transaction script of the stand-in host: which transactions exist, their
// screens with fields, and where each input or function key leads.
// The format is described in README.md beside this file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dtphost {

// Where an input leads.
struct Target {
    enum Kind { Screen, Same, End, Close } kind = Same;
    std::string screen;  // Screen: its name
    char reason = ' ';   // End: PREN reason
    std::string cda;     // End: CDA text (may hold ${...} variables)
};

struct Rule {
    char key = ' ';  // McsStatus: ' ' plain input, '*' any other function key
    Target target;
};

struct FieldDef {
    unsigned offset = 0, length = 0;
    std::string text;    // may hold ${...} variables; cut or padded to length
    bool input = false;  // an input field (unprotected on the screen)
};

struct ScreenDef {
    std::string name;
    char kind = 'O';  // program-message letter: O, V or E
    unsigned size = 0;
    std::string terminal;
    char filler = ' ';   // MCS header filler byte
    std::vector<FieldDef> fields;
    std::string error;   // error-text parameter
    int cursor = -1;     // field index that gets the cursor, -1 none
    std::string fcc;     // field-control modification bytes
    std::vector<Rule> rules;
    int line = 0;        // where it was defined

    // The rule for an McsStatus, or the default (redisplay the screen).
    Target targetFor(char status) const;
};

struct Transaction {
    std::string id;  // PRST transaction id, or "*" for any
    std::string first;
};

struct Script {
    std::map<std::string, ScreenDef> screens;
    std::vector<Transaction> transactions;

    // Transaction for a PRST id: an exact match first, then "*".
    const Transaction* find(const std::string& trid) const;
    const ScreenDef* screen(const std::string& name) const;
};

// Parses script text; on failure returns false with "name:line: what".
bool parseScript(const std::string& text, const std::string& sourceName, Script& out,
                 std::string& error);
bool loadScript(const std::string& path, Script& out, std::string& error);

// The script used when none is given: any transaction id starts a small
// two-screen conversation.
const char* builtinScript();

}  // namespace dtphost
