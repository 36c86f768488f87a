// Hand-built column lists with their define buffers, and the values a fetch would leave in them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/columns.h"

namespace rowflume::testing_support {

// A column list owned by the test: records and define buffers for `rows` rows.
class Columns {
 public:
  explicit Columns(int rows = 1000) : rows_(rows) { std::memset(&head_, 0, sizeof head_); }
  ~Columns() {
    for (ColumnDesc* c : columns_) {
      std::free(c->define_buffer);
      delete c;
    }
  }
  Columns(const Columns&) = delete;
  Columns& operator=(const Columns&) = delete;

  // described and define types, define width (display width the same unless given).
  ColumnDesc* Add(const std::string& name, int described, int define_type, int width, bool quotable,
                  bool hex, int display = -1) {
    auto* c = new ColumnDesc;
    std::memset(c, 0, sizeof *c);
    std::strncpy(c->name, name.c_str(), 30);
    c->name_length = static_cast<uint32_t>(std::strlen(c->name));
    c->described_type = static_cast<int16_t>(described);
    c->define_type = static_cast<int16_t>(define_type);
    c->define_width = width;
    c->display_width = display >= 0 ? display : width;
    c->quotable = quotable ? 1 : 0;
    c->hex = hex ? 1 : 0;
    c->define_buffer = static_cast<char*>(std::calloc(static_cast<size_t>(rows_), width));
    if (!columns_.empty())
      columns_.back()->next = c;
    else
      head_.next = c;
    columns_.push_back(c);
    return c;
  }
  ColumnDesc* Text(const std::string& name, int width = 40) {
    return Add(name, SQLT_CHR, SQLT_CHR, width, true, true);
  }
  ColumnDesc* Number(const std::string& name, int width = 22) {
    return Add(name, SQLT_NUM, SQLT_CHR, width, false, false);
  }
  ColumnDesc* Long(const std::string& name, int width) {
    return Add(name, SQLT_LNG, SQLT_LVC, width, true, true);
  }

  ColumnDesc* head() { return &head_; }
  ColumnDesc* at(int k) { return columns_[static_cast<size_t>(k)]; }
  int count() const { return static_cast<int>(columns_.size()); }

 private:
  int rows_;
  ColumnDesc head_;
  std::vector<ColumnDesc*> columns_;
};

inline void SetValue(ColumnDesc* c, int row, const std::string& value) {
  size_t n = value.size() < static_cast<size_t>(c->define_width)
                 ? value.size()
                 : static_cast<size_t>(c->define_width);
  std::memcpy(c->define_buffer + static_cast<size_t>(row) * c->define_width, value.data(), n);
  c->returned_lengths[row] = static_cast<uint16_t>(n);
  c->indicators[row] = 0;
}

inline void SetLongValue(ColumnDesc* c, int row, const std::string& value) {
  char* slot = c->define_buffer + static_cast<size_t>(row) * c->define_width;
  uint32_t length = static_cast<uint32_t>(value.size());
  std::memcpy(slot, &length, 4);
  std::memcpy(slot + 4, value.data(), value.size());
  c->returned_lengths[row] = 0;
  c->indicators[row] = 0;
}

inline void SetBytes(ColumnDesc* c, int row, const std::vector<uint8_t>& bytes) {
  SetValue(c, row, std::string(bytes.begin(), bytes.end()));
}

inline void SetNull(ColumnDesc* c, int row) {
  c->indicators[row] = -1;
  c->returned_lengths[row] = 0;
}

}  // namespace rowflume::testing_support
