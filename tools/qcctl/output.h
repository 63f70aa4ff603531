// What qcctl prints on standard output: tables and "name  value" lines for
// people, or one JSON document per run for scripts (--json).
#pragma once

#include <cjson/cJSON.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qcctl {

struct JsonDelete {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDelete>;

// The JSON text of a tree, formatted or on one line.
std::string JsonText(const cJSON* json, bool formatted = true);

class Output {
 public:
  Output(std::FILE* out, bool json) : m_out(out), m_json(json) {}
  bool json() const { return m_json; }
  std::FILE* file() const { return m_out; }

  // A table: the header row, then the rows, each column as wide as its
  // widest cell.
  void Table(const std::vector<std::string>& header,
             const std::vector<std::vector<std::string>>& rows) const;
  // "name  value" lines, the values aligned.
  void Fields(const std::vector<std::pair<std::string, std::string>>& fields) const;
  void Line(const std::string& text) const;
  // The run's JSON document.
  void Json(const cJSON* document) const { Line(JsonText(document)); }

 private:
  std::FILE* m_out;
  bool m_json;
};

}  // namespace qcctl
