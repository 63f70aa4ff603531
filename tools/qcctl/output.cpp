#include "output.h"

#include <algorithm>

namespace qcctl {

std::string JsonText(const cJSON* json, bool formatted) {
  std::unique_ptr<char, decltype(&cJSON_free)> text(
      formatted ? cJSON_Print(json) : cJSON_PrintUnformatted(json), cJSON_free);
  return text ? text.get() : "null";
}

void Output::Table(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows) const {
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) widths[c] = header[c].size();
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], row[c].size());
    }
  }
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    Line(line);
  };
  print(header);
  for (const auto& row : rows) print(row);
}

void Output::Fields(const std::vector<std::pair<std::string, std::string>>& fields) const {
  std::size_t width = 0;
  for (const auto& [name, value] : fields) width = std::max(width, name.size());
  for (const auto& [name, value] : fields) {
    Line(name + std::string(width - name.size() + 2, ' ') + value);
  }
}

void Output::Line(const std::string& text) const {
  std::fputs(text.c_str(), m_out);
  std::fputc('\n', m_out);
  std::fflush(m_out);
}

}  // namespace qcctl
