#pragma once
// The tool's output: an aligned table for people, one JSON object per row for
// scripts (--json), or comma-separated values (--csv). A table is built whole and
// printed at once, so a failure never leaves half a table on the screen.

#include <ostream>
#include <string>
#include <vector>

namespace pellora::cli {

enum class OutputFormat { Table, Json, Csv };

struct Cell {
    std::string text;
    bool number = false;  // right-aligned, and a JSON number
};

class Table {
public:
    explicit Table(std::vector<std::string> columns);
    void addRow(std::vector<Cell> cells);
    size_t size() const { return m_rows.size(); }
    void print(std::ostream& out, OutputFormat format) const;

    static Cell text(std::string t) { return Cell{std::move(t), false}; }
    static Cell number(double v, int digits);
    static Cell integer(long long v);

private:
    std::vector<std::string> m_columns;
    std::vector<std::vector<Cell>> m_rows;
};

// One line of JSON for a single object, for answers that are not tables.
std::string jsonLine(const std::vector<std::pair<std::string, Cell>>& fields);

}  // namespace pellora::cli
