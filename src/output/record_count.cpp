#include "output/record_count.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "output/escaping.h"

namespace rowflume {
namespace {

// What a byte outside quoted values may be (RecordCounter::classes_); 0 for a plain byte.
constexpr uint8_t kMarkerByte = 1;
constexpr uint8_t kQuoteByte = 2;
constexpr uint8_t kEscapeByte = 4;
constexpr uint8_t kNameQuoteByte = 8;

// MySQL column names stand between backquotes in the head and the duplicate-key tail.
constexpr uint8_t kNameQuote = '`';
// The MySQL statement texts around its tuples (output/insert_text.h, output/unload_loop.cpp).
constexpr char kFirstTuple[] = ") VALUES \n(";
constexpr char kNextTuple[] = "),\n(";
constexpr char kUpdateTail[] = "\nON DUPLICATE KEY UPDATE ";

bool StartsWithSpace(const std::string& field) {
  return !field.empty() && field[0] == ' ';
}

bool IsFixedWidth(const RecordLayout& layout) {
  return layout.format == kTextFormat && StartsWithSpace(layout.field);
}

bool Holds(const std::string& text, char byte) {
  return text.find(byte) != std::string::npos;
}

// Whether the byte may be the second of a double-byte character, which escaping leaves as it is.
bool MayEndPair(uint8_t byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

struct MarkerText {
  std::string text;
  bool counts;
  bool ends;
};

// The texts that mark the rows of a delimited file, after its header line; none when the layout
// ends its rows with nothing.
std::vector<MarkerText> RowMarkers(const RecordLayout& layout) {
  const std::string statement_end = ")" + layout.exec + "\n";
  if (layout.format == kOracleFormat) return {{statement_end, true, true}};
  if (layout.format == kMySqlFormat) {
    // A tuple is counted where it opens: with exec empty, the ")\n" that closes a statement would
    // also match before an ON DUPLICATE KEY UPDATE tail. The tail of a table whose every column
    // is a unique one has no assignment: it ends the statement itself.
    return {{kFirstTuple, true, false},
            {kNextTuple, true, false},
            {statement_end, false, true},
            {kUpdateTail + layout.exec + "\n", false, true}};
  }
  const std::string row_end = layout.rowsuf + layout.record;
  if (row_end.empty()) return {};
  return {{row_end, true, true}};
}

struct CountRule {
  bool follow_quotes;  // else quotes and escapes are bytes like any other
  bool exact;
};

// Whether escaping leaves no byte of the row end in any value: each is escaped into bytes not of
// the row end, and none can hide in a double-byte character.
bool EscapedAway(const EscapeTable& table, const std::string& row_end, bool double_byte) {
  for (const char c : row_end) {
    const auto byte = static_cast<uint8_t>(c);
    if (!table.escaped[byte] || Holds(row_end, static_cast<char>(table.replacement[byte])) ||
        (double_byte && MayEndPair(byte))) {
      return false;
    }
  }
  return true;
}

// How the layout's files are counted, and whether that count is exact. An inexact layout is
// counted by its markers alone: followed quotes would let one stray quote in a value swallow the
// rest of the file, where a plain search only ever finds a row end too many.
CountRule RuleOf(const RecordLayout& layout) {
  constexpr CountRule kInexact{false, false};
  if (IsFixedWidth(layout)) return {false, layout.fixed_record_length > 0};
  const std::vector<MarkerText> markers = RowMarkers(layout);
  if (markers.empty()) return kInexact;
  const bool text = layout.format == kTextFormat;
  // A text row's end; in any format, the end of the header line.
  const std::string row_end = layout.rowsuf + layout.record;
  // What stands in a row besides its values must not start a false marker: for text that is any
  // byte of the row end (a border of it would let a match begin early), for INSERT statements the
  // ")" or line feed every marker starts with.
  std::vector<const std::string*> between = {&layout.field, &layout.null};
  if (text) {
    between.push_back(&layout.colsep);
    between.push_back(&layout.rowpre);
  }
  const std::string leads = text ? row_end : std::string(")\n");
  for (const std::string* text_between : between) {
    if (text_between->find_first_of(leads) != std::string::npos) return kInexact;
  }

  const bool escaping = layout.escape != ' ';
  EscapeTable table;
  BuildEscapeTable(&table, layout.escape, layout.escf.c_str(), layout.esct.c_str(),
                   CountEscapePairs(layout.escf.c_str(), layout.esct.c_str()));
  if (text && escaping && EscapedAway(table, row_end, layout.double_byte)) {
    return {false, true};
  }

  // Otherwise every value that may hold a marker must be quoted, with a quote no value can close.
  if (layout.quote.size() != 1 || StartsWithSpace(layout.field)) return kInexact;
  const char quote = layout.quote[0];
  std::string fixed_texts = row_end;
  for (const MarkerText& marker : markers) fixed_texts += marker.text;
  for (const std::string* text_between : between) {
    if (Holds(*text_between, quote)) return kInexact;
  }
  if (Holds(fixed_texts, quote) || (layout.format == kMySqlFormat && quote == kNameQuote)) {
    return kInexact;
  }
  const auto quote_byte = static_cast<uint8_t>(quote);
  if (escaping && layout.escape == quote) {
    // A doubled quote opens a value again as it closes it. That protects the quote only while
    // nothing else is escaped: the quote before another escaped byte's replacement would read as
    // the value's end.
    const auto escaped_bytes = std::count(table.escaped.begin(), table.escaped.end(), uint8_t{1});
    if (escaped_bytes != 1 || (layout.double_byte && MayEndPair(quote_byte))) return kInexact;
    return {true, true};
  }
  if (!escaping || !table.escaped[quote_byte]) return kInexact;
  if (layout.double_byte &&
      (MayEndPair(quote_byte) || MayEndPair(static_cast<uint8_t>(layout.escape)))) {
    return kInexact;
  }
  // The escape character hides the byte after it wherever it stands: it must not end a text that
  // a marker or quote may follow, nor stand in a marker.
  if (Holds(fixed_texts, layout.escape)) return kInexact;
  for (const std::string* text_between : between) {
    if (!text_between->empty() && text_between->back() == layout.escape) return kInexact;
  }
  return {true, true};
}

}  // namespace

RecordLayout RecordLayoutOf(const ManifestLayout& written, bool appended) {
  RecordLayout layout;
  layout.format = written.format;
  layout.record = written.record;
  layout.field = written.field;
  layout.quote = written.quote;
  layout.escape = written.escape;
  layout.escf = written.escf;
  layout.esct = written.esct;
  layout.null = written.null_text;
  layout.colsep = written.colsep;
  layout.rowpre = written.rowpre;
  layout.rowsuf = written.rowsuf;
  layout.exec = written.exec;
  layout.fixed_record_length = written.fixed_record_length;
  layout.head = written.head && !appended;
  layout.double_byte = written.double_byte;
  return layout;
}

RecordLayout RecordLayoutOf(const UnloadHandle* job, int64_t fixed_record_length) {
  return RecordLayoutOf(ManifestLayoutOf(job, fixed_record_length), false);
}

bool RecordCountIsExact(const RecordLayout& layout) {
  return RuleOf(layout).exact;
}

RecordCounter::Marker::Marker(std::string marker_text, bool marks_row, bool marks_end)
    : text(std::move(marker_text)), fallback(text.size(), 0), counts(marks_row), ends(marks_end) {
  uint32_t border = 0;
  for (size_t k = 1; k < text.size(); ++k) {
    while (border > 0 && text[k] != text[border]) border = fallback[border - 1];
    if (text[k] == text[border]) ++border;
    fallback[k] = border;
  }
}

bool RecordCounter::Marker::Feed(uint8_t byte) {
  if (text.empty()) return false;
  const char c = static_cast<char>(byte);
  while (matched > 0 && text[matched] != c) matched = fallback[matched - 1];
  if (text[matched] == c) ++matched;
  if (matched < text.size()) return false;
  // Matching goes on from the border, so that an occurrence overlapping this one counts too.
  matched = fallback[matched - 1];
  return true;
}

RecordCounter::RecordCounter(const RecordLayout& layout) {
  if (IsFixedWidth(layout)) {
    fixed_ = true;
    record_length_ = layout.fixed_record_length;
    record_start_ = layout.rowpre;
    record_end_ = layout.rowsuf + layout.record;
    return;
  }
  statements_ = layout.format != kTextFormat;
  const bool follow_quotes = RuleOf(layout).follow_quotes;
  for (const MarkerText& marker : RowMarkers(layout)) {
    markers_.emplace_back(marker.text, marker.counts, marker.ends);
  }
  ends_rows_ = !markers_.empty();
  header_pending_ = layout.head;
  header_end_ = Marker(layout.rowsuf + layout.record, false, true);
  auto mark = [this](const std::string& text) {
    for (const char c : text) classes_[static_cast<uint8_t>(c)] |= kMarkerByte;
  };
  mark(header_end_.text);
  for (const Marker& marker : markers_) mark(marker.text);
  if (!follow_quotes) return;
  quote_ = static_cast<uint8_t>(layout.quote[0]);
  classes_[quote_] |= kQuoteByte;
  // An escape character that is the quote itself doubles it: it closes the value and opens it
  // again, with nothing to hide.
  if (layout.escape != ' ' && layout.escape != layout.quote[0]) {
    escapes_ = true;
    escape_ = static_cast<uint8_t>(layout.escape);
    classes_[escape_] |= kEscapeByte;
  }
  // Column names are followed only where values are: a stray backquote of a value is quoted then.
  if (layout.format == kMySqlFormat) classes_[kNameQuote] |= kNameQuoteByte;
}

void RecordCounter::Add(const char* bytes, size_t count) {
  if (count == 0) return;
  if (fixed_) {
    AddFixed(bytes, count);
  } else {
    const auto* start = reinterpret_cast<const uint8_t*>(bytes);
    AddDelimited(start, start + count);
  }
  bytes_ += count;
}

void RecordCounter::AddFixed(const char* bytes, size_t count) {
  const int64_t length = record_length_;
  const auto start = static_cast<int64_t>(record_start_.size());
  const int64_t end_at = length - static_cast<int64_t>(record_end_.size());
  if (length <= 0 || end_at < start) return;  // Finish refuses such a layout
  size_t k = 0;
  while (k < count) {
    int64_t take = 1;
    if (in_record_ < start || in_record_ >= end_at) {
      const bool at_start = in_record_ < start;
      const char expected = at_start ? record_start_[static_cast<size_t>(in_record_)]
                                     : record_end_[static_cast<size_t>(in_record_ - end_at)];
      if (bytes[k] != expected && bad_record_ == 0) {
        bad_record_ = (bytes_ + k) / static_cast<uint64_t>(length) + 1;
        bad_start_ = at_start;
      }
    } else {
      // The fields: any bytes at all.
      take = std::min(static_cast<int64_t>(count - k), end_at - in_record_);
    }
    k += static_cast<size_t>(take);
    in_record_ += take;
    if (in_record_ == length) in_record_ = 0;
  }
}

void RecordCounter::BreakMatches() {
  at_end_ = false;
  header_end_.matched = 0;
  for (Marker& marker : markers_) marker.matched = 0;
}

void RecordCounter::FeedMarkers(uint8_t byte) {
  if (header_pending_) {
    at_end_ = header_end_.Feed(byte);
    header_pending_ = !at_end_;
    return;
  }
  bool ended = false;
  for (Marker& marker : markers_) {
    if (!marker.Feed(byte)) continue;
    rows_ += marker.counts ? 1 : 0;
    ended = ended || marker.ends;
  }
  at_end_ = ended;
}

void RecordCounter::AddDelimited(const uint8_t* bytes, const uint8_t* end) {
  const uint8_t* p = bytes;
  while (p < end) {
    if (hide_next_) {
      // The matches were broken when the escape character came.
      hide_next_ = false;
      ++p;
      continue;
    }
    if (in_quote_ || in_name_) {
      // Inside, only the closing quote and, in a value, the escape character mean anything.
      const uint8_t closing = in_quote_ ? quote_ : kNameQuote;
      const bool escapes = in_quote_ && escapes_;
      while (p < end && *p != closing && !(escapes && *p == escape_)) ++p;
      if (p == end) return;
      if (*p == closing) {
        in_quote_ = false;
        in_name_ = false;
      } else {
        hide_next_ = true;
      }
      ++p;
      continue;
    }
    const uint8_t byte = *p++;
    const uint8_t kind = classes_[byte];
    if (kind == 0) {
      // A run of bytes no marker holds breaks every partial match once.
      while (p < end && classes_[*p] == 0) ++p;
      BreakMatches();
    } else if (kind & kQuoteByte) {
      in_quote_ = true;
      BreakMatches();
    } else if ((kind & kNameQuoteByte) && !header_pending_) {
      // The header line's names are quoted as values are, never in backquotes.
      in_name_ = true;
      BreakMatches();
    } else if (kind & kEscapeByte) {
      hide_next_ = true;
      BreakMatches();
    } else {
      FeedMarkers(byte);
    }
  }
}

bool RecordCounter::Finish(uint64_t* rows, std::string* problem) const {
  std::string why;
  uint64_t counted = 0;
  if (fixed_) {
    const int64_t length = record_length_;
    const auto fixed_bytes = static_cast<int64_t>(record_start_.size() + record_end_.size());
    counted = length > 0 ? bytes_ / static_cast<uint64_t>(length) : 0;
    if (length <= 0) {
      why = "the fixed-width layout was given no record length";
    } else if (length < fixed_bytes) {
      why =
          "a record of " + std::to_string(length) + " bytes cannot hold rowpre, rowsuf and record";
    } else if (bytes_ % static_cast<uint64_t>(length) != 0) {
      why = "the file's " + std::to_string(bytes_) + " bytes are not a whole number of " +
            std::to_string(length) + "-byte records";
    } else if (bad_record_ != 0) {
      why = "record " + std::to_string(bad_record_) +
            (bad_start_ ? " does not start with rowpre" : " does not end with rowsuf and record");
    }
  } else {
    counted = rows_;
    if (!ends_rows_) {
      why = "the layout ends its rows with nothing to count";
    } else if (header_pending_) {
      why = "the file ends before its header line does";
    } else if (in_quote_) {
      why = "the file ends inside a quoted value";
    } else if (in_name_) {
      why = "the file ends inside a column name";
    } else if (hide_next_) {
      why = "the file ends with an escape character";
    } else if (!at_end_) {
      why = statements_ ? "the file ends inside a statement" : "the file ends inside a row";
    }
  }
  if (rows != nullptr) *rows = counted;
  if (problem != nullptr) *problem = why;
  return why.empty();
}

}  // namespace rowflume
