#include "output.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace pellora::cli {

namespace {

nlohmann::json jsonValue(const Cell& c) {
    if (c.number && !c.text.empty()) {
        try {
            size_t used = 0;
            const double v = std::stod(c.text, &used);
            if (used == c.text.size() && std::isfinite(v)) {
                if (c.text.find_first_of(".eE") == std::string::npos) return static_cast<long long>(v);
                return v;
            }
        } catch (...) {
        }
    }
    if (c.number && c.text.empty()) return nullptr;
    return c.text;
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char ch : s) {
        if (ch == '"') q += '"';
        q += ch;
    }
    return q + "\"";
}

}  // namespace

Table::Table(std::vector<std::string> columns) : m_columns(std::move(columns)) {}

void Table::addRow(std::vector<Cell> cells) {
    cells.resize(m_columns.size());
    m_rows.push_back(std::move(cells));
}

Cell Table::number(double v, int digits) {
    if (!std::isfinite(v)) return Cell{"", true};
    return Cell{fmt::format("{:.{}f}", v, std::clamp(digits, 0, 10)), true};
}

Cell Table::integer(long long v) { return Cell{std::to_string(v), true}; }

void Table::print(std::ostream& out, OutputFormat format) const {
    std::string text;
    if (format == OutputFormat::Json) {
        for (const auto& row : m_rows) {
            nlohmann::json o = nlohmann::json::object();
            for (size_t i = 0; i < m_columns.size(); ++i) o[m_columns[i]] = jsonValue(row[i]);
            // Invalid UTF-8 from the server is replaced, never thrown at the user.
            text += o.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        }
    } else if (format == OutputFormat::Csv) {
        for (size_t i = 0; i < m_columns.size(); ++i) text += (i ? "," : "") + csvField(m_columns[i]);
        text += "\n";
        for (const auto& row : m_rows) {
            for (size_t i = 0; i < row.size(); ++i) text += (i ? "," : "") + csvField(row[i].text);
            text += "\n";
        }
    } else {
        std::vector<size_t> width(m_columns.size());
        std::vector<bool> numeric(m_columns.size(), !m_rows.empty());
        for (size_t i = 0; i < m_columns.size(); ++i) width[i] = m_columns[i].size();
        for (const auto& row : m_rows)
            for (size_t i = 0; i < row.size(); ++i) {
                width[i] = std::max(width[i], row[i].text.size());
                numeric[i] = numeric[i] && row[i].number;
            }
        auto line = [&](auto cellText) {
            std::string l;
            for (size_t i = 0; i < m_columns.size(); ++i) {
                const std::string t = cellText(i);
                if (i) l += "  ";
                l += numeric[i] ? fmt::format("{:>{}}", t, width[i]) : fmt::format("{:<{}}", t, width[i]);
            }
            while (!l.empty() && l.back() == ' ') l.pop_back();
            return l + "\n";
        };
        text += line([&](size_t i) { return m_columns[i]; });
        for (const auto& row : m_rows) text += line([&](size_t i) { return row[i].text; });
    }
    out << text << std::flush;
}

std::string jsonLine(const std::vector<std::pair<std::string, Cell>>& fields) {
    nlohmann::json o = nlohmann::json::object();
    for (const auto& [k, c] : fields) o[k] = jsonValue(c);
    return o.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace pellora::cli
