#include "output/field_encoding.h"

#include <cstring>

#include "output/escaping.h"
#include "output/field_plan.h"

namespace rowflume {

void InitFieldEncoder(FieldEncoder* enc, const UnloadHandle* job, OutputBuffer* out,
                      const ColumnDesc* head, const char* client_charset) {
  enc->out = out;
  enc->field = job->field;
  enc->field_length = job->field_length;
  enc->colsep = job->colsep;
  enc->colsep_length = job->colsep_length;
  enc->null_text = job->null;
  enc->null_length = job->null_length;
  enc->quote = job->quote;
  enc->quote_length = static_cast<int>(strnlen(job->quote, sizeof job->quote));
  enc->record = job->record;
  enc->record_length = job->record_length;
  enc->escaping = job->escape != ' ';
  BuildEscapeTable(&enc->escapes, job->escape, job->escf, job->esct,
                   CountEscapePairs(job->escf, job->esct));
  enc->double_byte = IsDoubleByteCharset(client_charset);
  enc->translating = BuildTranslateTable(&enc->translation, job->sedf, job->sedt);
  enc->format = job->format;
  enc->fixed_layout = job->field_length > 0 && job->field[0] == ' ';
  enc->longest_name = 0;
  for (const ColumnDesc* c = head != nullptr ? head->next : nullptr; c != nullptr; c = c->next) {
    if (static_cast<int>(c->name_length) > enc->longest_name) {
      enc->longest_name = static_cast<int>(c->name_length);
    }
  }
  enc->lob_writer = nullptr;
  enc->lob_context = nullptr;
  enc->row_number = 0;
  enc->cut_fields = 0;
  enc->cut_column = nullptr;
  enc->cut_width = 0;
  enc->refused_column = nullptr;
  enc->refused_bytes = 0;
  for (FieldPlan& plan : enc->plans) plan.column = nullptr;
  enc->leads_used = 0;
  std::memset(enc->leads.data() + kLeadBytes, 0, kLeadReadSlack);
  enc->planned_row = nullptr;
  enc->planned_count = 0;
  enc->row_path = 0;  // none planned: planned_row decides
}

namespace {

// Whether a header text must be quoted to be read back as one field: it holds a byte of the
// quote or of a separator, a line break, or a byte that escaping changes.
bool HeaderNeedsQuotes(const FieldEncoder* enc, const char* text, int length) {
  for (int k = 0; k < length; ++k) {
    const char b = text[k];
    if (b == '\n' || b == '\r' ||
        std::memchr(enc->quote, b, static_cast<size_t>(enc->quote_length)) != nullptr ||
        std::memchr(enc->field, b, static_cast<size_t>(enc->field_length)) != nullptr ||
        std::memchr(enc->record, b, static_cast<size_t>(enc->record_length)) != nullptr) {
      return true;
    }
  }
  return enc->escaping && CountEscapes(text, length, enc->escapes, enc->double_byte) > 0;
}

}  // namespace

void EncodeHeaderName(FieldEncoder* enc, const char* prehead, int prehead_length, const char* name,
                      int name_length) {
  OutputBuffer* out = enc->out;
  // Names needing no quotes stay bare, so that the usual header line reads as it always has.
  if (enc->quote_length == 0 || (!HeaderNeedsQuotes(enc, prehead, prehead_length) &&
                                 !HeaderNeedsQuotes(enc, name, name_length))) {
    Put(out, prehead, prehead_length);
    Put(out, name, name_length);
    return;
  }
  Put(out, enc->quote, enc->quote_length);
  for (int piece = 0; piece < 2; ++piece) {
    const char* text = piece == 0 ? prehead : name;
    const int length = piece == 0 ? prehead_length : name_length;
    const int64_t escapes =
        enc->escaping ? CountEscapes(text, length, enc->escapes, enc->double_byte) : 0;
    EmitValue(enc, text, length, escapes, -1, enc->double_byte);
  }
  Put(out, enc->quote, enc->quote_length);
}

}  // namespace rowflume
