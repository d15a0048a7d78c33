// Readers of the art's data files: the cell-role map (content/art/cell_roles.txt), which must give every cell of the
// three sheets exactly one role, and the picture list (content/art/pictures.txt). Build machine, single-threaded.
#include "art.h"

#include <fstream>
#include <sstream>

static const SheetLayout SHEETS[] = {
    {102, 640, 448, 32, 32, 20, 280},
    {103, 640, 288, 32, 32, 20, 180},
    {104, 640, 192, 128, 96, 5, 10},
};

const SheetLayout &SheetOf(int id)
{
    for (const SheetLayout &sheet : SHEETS) {
        if (sheet.id == id) {
            return sheet;
        }
    }
    return SHEETS[0];
}

// Splits a line into words, dropping a '#' comment.
static std::vector<std::string> Words(const std::string &line)
{
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

static bool ParseInt(const std::string &text, int &value)
{
    try {
        size_t used = 0;
        value = std::stoi(text, &used);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

static bool ReadAttributes(const std::vector<std::string> &words, size_t from,
                           std::map<std::string, std::string> &attributes)
{
    for (size_t i = from; i < words.size(); i++) {
        const size_t equals = words[i].find('=');
        if (equals == std::string::npos || equals == 0) {
            return false;
        }
        attributes[words[i].substr(0, equals)] = words[i].substr(equals + 1);
    }
    return true;
}

std::string ReadCellRoles(const std::string &path, std::vector<CellRole> &roles)
{
    std::ifstream file(path);
    if (!file) {
        return path + ": cannot read";
    }
    std::map<int, std::vector<int>> owner; // sheet -> line owning each cell, 0 for none
    for (const SheetLayout &sheet : SHEETS) {
        owner[sheet.id].assign(sheet.count, 0);
    }
    std::string text;
    for (int number = 1; std::getline(file, text); number++) {
        const std::vector<std::string> words = Words(text);
        if (words.empty()) {
            continue;
        }
        const std::string where = path + " line " + std::to_string(number) + ": ";
        CellRole role;
        role.line = number;
        char by = 0;
        std::istringstream block(words.size() > 2 ? words[2] : "");
        if (words.size() < 6 || !ParseInt(words[0], role.sheet) || !owner.count(role.sheet) ||
            !ParseInt(words[1], role.first) || !(block >> role.columns >> by >> role.rows) || by != 'x' ||
            role.columns < 1 || role.rows < 1 || !ReadAttributes(words, 6, role.attributes)) {
            return where + "expected SHEET CELL COLUMNSxROWS DRAW ROLE SUBJECT [NAME=VALUE ...]";
        }
        if (words[3] != "keyed" && words[3] != "opaque" && words[3] != "none") {
            return where + "draw mode must be keyed, opaque or none";
        }
        if ((words[3] == "none") != (words[4] == "unused")) {
            return where + "exactly the unused cells are drawn by none";
        }
        role.keyed = words[3] == "keyed";
        role.role = words[4];
        role.subject = words[5];
        const SheetLayout &sheet = SheetOf(role.sheet);
        const int column = role.first % sheet.perRow, row = role.first / sheet.perRow;
        if (role.first < 0 || column + role.columns > sheet.perRow || (row + role.rows) * sheet.perRow > sheet.count) {
            return where + "block leaves the sheet";
        }
        for (int r = 0; r < role.rows; r++) {
            for (int c = 0; c < role.columns; c++) {
                int &cell = owner[role.sheet][role.first + r * sheet.perRow + c];
                if (cell) {
                    return where + "cell " + std::to_string(role.first + r * sheet.perRow + c) +
                           " already has a role (line " + std::to_string(cell) + ")";
                }
                cell = number;
            }
        }
        if (role.role == "unused") {
            role.subject.clear();
        }
        roles.push_back(role);
    }
    for (const auto &[sheet, cells] : owner) {
        for (size_t cell = 0; cell < cells.size(); cell++) {
            if (!cells[cell]) {
                return path + ": PNG " + std::to_string(sheet) + " cell " + std::to_string(cell) + " has no role";
            }
        }
    }
    return "";
}

std::string ReadPictureRecipes(const std::string &path, std::vector<PictureRecipe> &recipes)
{
    std::ifstream file(path);
    if (!file) {
        return path + ": cannot read";
    }
    std::string text;
    for (int number = 1; std::getline(file, text); number++) {
        const std::vector<std::string> words = Words(text);
        if (words.empty()) {
            continue;
        }
        PictureRecipe recipe;
        recipe.line = number;
        if (!ParseInt(words[0], recipe.id) || !ReadAttributes(words, 1, recipe.settings)) {
            return path + " line " + std::to_string(number) + ": expected ID NAME=VALUE ...";
        }
        recipes.push_back(recipe);
    }
    return "";
}
