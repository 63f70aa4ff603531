#include "support/table_file.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#ifndef QCSDK_TESTS_DIR
#error "QCSDK_TESTS_DIR names the tests' source folder"
#endif

namespace qcsdk::test {
namespace {

// Cells of "| a | b |", escapes resolved; blanks around the text dropped, escaped ones kept.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  std::size_t kept = 0;  // the cell up to its last character that is no unescaped blank
  for (std::size_t i = 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '|') {
      cells.push_back(cell.substr(0, kept));
      cell.clear();
      kept = 0;
    } else if (c == ' ' || c == '\t') {
      if (!cell.empty()) cell += c;
    } else {
      if (c == '\\' && i + 1 < line.size()) {
        c = line[++i];
        if (c == 'n') c = '\n';
        if (c == 'x' && i + 2 < line.size()) {
          c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
      }
      cell += c;
      kept = cell.size();
    }
  }
  if (kept > 0) cells.push_back(cell.substr(0, kept));  // no closing '|'
  return cells;
}

bool IsRule(const std::vector<std::string>& cells) {
  return std::all_of(cells.begin(), cells.end(), [](const std::string& cell) {
    return !cell.empty() && cell.find_first_not_of("-:") == std::string::npos;
  });
}

}  // namespace

const std::string& TableRow::Text(const std::string& column) const {
  const auto it = std::find(m_columns->begin(), m_columns->end(), column);
  if (it == m_columns->end()) throw std::out_of_range(m_where + ": no column " + column);
  return m_cells[static_cast<std::size_t>(it - m_columns->begin())];
}

int64_t TableRow::Int(const std::string& column) const {
  const std::string& text = Text(column);
  if (text.size() == 3 && text.front() == '\'' && text.back() == '\'')
    return static_cast<unsigned char>(text[1]);
  try {
    std::size_t used = 0;
    const int64_t value = std::stoll(text, &used, 0);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(m_where + ": column " + column + " is not a number: " + text);
}

bool TableRow::Bool(const std::string& column) const {
  const std::string& text = Text(column);
  if (text != "yes" && text != "no")
    throw std::invalid_argument(m_where + ": column " + column + " is not yes or no: " + text);
  return text == "yes";
}

Table::Table(const std::string& path) {
  const std::string file = std::string(QCSDK_TESTS_DIR) + "/" + path;
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] != '|') continue;
    std::vector<std::string> cells = Cells(line);
    if (m_columns.empty()) {
      m_columns = std::move(cells);
    } else if (!IsRule(cells)) {
      if (cells.size() != m_columns.size())
        throw std::runtime_error(path + ":" + std::to_string(number) + ": " +
                                 std::to_string(cells.size()) + " cells, header has " +
                                 std::to_string(m_columns.size()));
      m_rows.emplace_back(path, number, &m_columns, std::move(cells));
    }
  }
  if (m_columns.empty()) throw std::runtime_error(path + ": no table");
}

}  // namespace qcsdk::test
