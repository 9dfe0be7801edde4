#pragma once
// Every row the setpoints window shows: on which tab and sub-tab, under which
// label, from which holding register, in which format, and what an edit of
// the row stores. The window and the edit handler both read this one table.

#include "setpoints/ValveWeights.h"
#include "link/RegisterImage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zrv::setpoints {

enum class Display {
    G4,           // float, general format with 4 significant digits
    G4OfInteger,  // U16 as a float, then G4
    Integer,      // U16 in plain decimal
    Thousandths,  // float x 0.001, then G4 (flows in thousand nm3/h)
};

enum class Edit {
    AsEntered,      // the number as a float
    TimesThousand,  // the number x 1000 as a float
    Integer,        // truncated toward zero, low 16 bits
    Weight,         // a whole number, low 8 bits into ValveWeights
};

inline constexpr int kTabCount = 5;
inline constexpr int kSubTabCount = 3;  // PA, QA, QM on the first two tabs
inline constexpr int kNoSubTab = -1;

struct Row {
    int tab;
    int subTab;  // kNoSubTab on tabs 2..4
    int row;     // 1 = first row under the titles
    const char* label;
    uint16_t reg;
    Display display;
    Edit edit;
};

const std::vector<Row>& catalogue();

// The rows of one view in catalogue order; none for a sub-tab outside 0..2.
std::vector<const Row*> rowsFor(int tab, int subTab);

// The row at a view's row number, or null.
const Row* findRow(int tab, int subTab, int row);

// The label as shown; the QA flow row reads "Qy" when the rows were built by
// a sub-tab change.
std::string labelFor(const Row& row, bool builtBySubTabChange);

std::string displayText(const Row& row, const RegisterImage& image);

struct EditResult {
    enum Kind {
        Ignored,       // empty text, or no such row: nothing stored
        Stored,        // in the image or in ValveWeights
        NotANumber,    // show "EConvertError" and the message
        NotAWhole,     // weights only: show the message as a general error
    } kind = Ignored;
    std::string message;
};

// One change of a value cell's text (called for every keystroke).
EditResult applyEdit(int tab, int subTab, int row, std::string_view text, RegisterImage& image,
                     ValveWeightArray& weights);

}  // namespace zrv::setpoints
