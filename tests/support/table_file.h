// Expected values kept as Markdown tables beside the tests that use them, reading like their
// sources. A row is a line starting with '|'; the first names the columns, a row of dashes is
// skipped, other lines are free text. In a cell "\|" is '|', "\n" a line feed, "\xHH" one byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qcsdk::test {

class TableRow {
 public:
  TableRow(std::string file, int line, const std::vector<std::string>* columns,
           std::vector<std::string> cells)
      : m_where(std::move(file) + ":" + std::to_string(line)),
        m_columns(columns),
        m_cells(std::move(cells)) {}

  // The cell's text; throws std::out_of_range naming the column when the table has no such column.
  const std::string& Text(const std::string& column) const;
  // The cell as a decimal, 0x hex or 0 octal integer, or a quoted character; else invalid_argument.
  int64_t Int(const std::string& column) const;
  // "yes" or "no"; throws std::invalid_argument for anything else.
  bool Bool(const std::string& column) const;
  // "file:line", for SCOPED_TRACE.
  const std::string& Where() const { return m_where; }

 private:
  std::string m_where;
  const std::vector<std::string>* m_columns;
  std::vector<std::string> m_cells;
};

class Table {
 public:
  // Reads tests/<path>; throws std::runtime_error if unreadable, without header, or a row misfits.
  explicit Table(const std::string& path);
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const std::vector<TableRow>& rows() const { return m_rows; }
  auto begin() const { return m_rows.begin(); }
  auto end() const { return m_rows.end(); }

 private:
  std::vector<std::string> m_columns;
  std::vector<TableRow> m_rows;
};

}  // namespace qcsdk::test
