#include "output/manifest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/ascii.h"
#include "common/calendar.h"
#include "output/escaping.h"

namespace rowflume {
namespace {

// Keys in the order written, so that a reader sees the version first and the files last.
using Json = nlohmann::ordered_json;

constexpr char kManifestKey[] = "rowflume_manifest";  // the version number's key, first in the file

// Separators and texts as the options write them, one "0xNN" per byte: lossless whatever the
// bytes, and the value can be given back to the program as it stands.
std::string ByteCodes(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string codes;
  for (unsigned char byte : bytes) {
    codes += "0x";
    codes += kHex[byte >> 4];
    codes += kHex[byte & 15];
  }
  return codes;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromByteCodes(const std::string& codes, std::string* bytes) {
  bytes->clear();
  if (codes.size() % 4 != 0) return false;
  for (size_t pos = 0; pos < codes.size(); pos += 4) {
    const int high = HexValue(codes[pos + 2]);
    const int low = HexValue(codes[pos + 3]);
    if (codes[pos] != '0' || codes[pos + 1] != 'x' || high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// Whether text is well-formed UTF-8, which is all a JSON string can hold.
bool IsUtf8(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t extra = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
      extra = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      extra = 2;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      extra = 3;
    } else if (lead >= 0x80) {
      return false;
    }
    if (pos + extra >= text.size() && extra > 0) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[pos + k]) & 0xc0) != 0x80) return false;
    }
    pos += extra + 1;
  }
  return true;
}

// A text field: as it stands when it is UTF-8; otherwise its bytes as codes, so that nothing of
// a name in another character set is lost or replaced.
void PutText(Json& object, const char* key, const std::string& text) {
  if (IsUtf8(text)) {
    object[key] = text;
  } else {
    object[std::string(key) + "_bytes"] = ByteCodes(text);
  }
}

std::string GetText(const Json& object, const char* key) {
  if (object.contains(key) && object[key].is_string()) return object[key].get<std::string>();
  std::string bytes;
  const std::string coded = std::string(key) + "_bytes";
  if (object.contains(coded)) FromByteCodes(object[coded].get<std::string>(), &bytes);
  return bytes;
}

Json OrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

std::string StringOrEmpty(const Json& object, const char* key) {
  return object.contains(key) && object[key].is_string() ? object[key].get<std::string>() : "";
}

const char* FormatName(int32_t format) {
  return format == kMySqlFormat     ? "mysql"
         : format == kOracleFormat  ? "oracle"
         : format == kParquetFormat ? "parquet"
                                    : "text";
}

Json LayoutJson(const ManifestLayout& layout) {
  Json options;
  options["layout"] = layout.layout;
  options["format"] = FormatName(layout.format);
  const std::pair<const char*, const std::string*> texts[] = {
      {"field", &layout.field},    {"record", &layout.record},   {"quote", &layout.quote},
      {"null", &layout.null_text}, {"rowpre", &layout.rowpre},   {"rowsuf", &layout.rowsuf},
      {"colsep", &layout.colsep},  {"prehead", &layout.prehead}, {"exec", &layout.exec}};
  for (const auto& [key, value] : texts) options[key] = ByteCodes(*value);
  options["escape"] = layout.escape == ' ' ? Json(nullptr) : Json(ByteCodes({layout.escape}));
  options["double_byte"] = layout.double_byte;
  options["head"] = layout.head;
  options["charset"] = OrNull(layout.charset);
  options["ncharset"] = OrNull(layout.ncharset);
  options["client"] = layout.client;
  options["record_length"] =
      layout.fixed_record_length > 0 ? Json(layout.fixed_record_length) : Json(nullptr);
  options["scrambled"] = layout.scrambled;
  return options;
}

void ReadLayout(const Json& options, ManifestLayout* layout) {
  layout->layout = StringOrEmpty(options, "layout");
  const std::string format = StringOrEmpty(options, "format");
  layout->format = format == "mysql"     ? kMySqlFormat
                   : format == "oracle"  ? kOracleFormat
                   : format == "parquet" ? kParquetFormat
                                         : kTextFormat;
  const std::pair<const char*, std::string*> texts[] = {
      {"field", &layout->field},    {"record", &layout->record},   {"quote", &layout->quote},
      {"null", &layout->null_text}, {"rowpre", &layout->rowpre},   {"rowsuf", &layout->rowsuf},
      {"colsep", &layout->colsep},  {"prehead", &layout->prehead}, {"exec", &layout->exec}};
  for (const auto& [key, value] : texts) FromByteCodes(StringOrEmpty(options, key), value);
  std::string escape;
  layout->escape = FromByteCodes(StringOrEmpty(options, "escape"), &escape) && escape.size() == 1
                       ? escape[0]
                       : ' ';
  layout->double_byte = options.value("double_byte", false);
  layout->head = options.value("head", false);
  layout->charset = StringOrEmpty(options, "charset");
  layout->ncharset = StringOrEmpty(options, "ncharset");
  layout->client = options.value("client", false);
  layout->fixed_record_length =
      options.contains("record_length") && options["record_length"].is_number_integer()
          ? options["record_length"].get<int64_t>()
          : 0;
  layout->scrambled = options.value("scrambled", false);
}

Json FileJson(const ManifestFile& file) {
  Json entry;
  PutText(entry, "name", file.name);
  entry["kind"] = file.kind;
  entry["piece"] = file.piece;
  if (file.kind == kDataFile || file.kind == kCommandOutput || file.kind == kStandardOutput) {
    entry["rows"] = file.rows;
    entry["first_row"] = file.rows > 0 ? Json(file.first_row) : Json(nullptr);
    entry["last_row"] = file.rows > 0 ? Json(file.last_row) : Json(nullptr);
  }
  if (file.appended) entry["appended"] = true;
  if (!file.whole) entry["whole"] = false;
  entry["bytes"] = file.bytes;
  entry["sha256"] = OrNull(file.sha256);
  return entry;
}

ManifestFile ReadFile(const Json& entry) {
  ManifestFile file;
  file.name = GetText(entry, "name");
  file.kind = StringOrEmpty(entry, "kind");
  file.piece = entry.value("piece", 1);
  file.appended = entry.value("appended", false);
  file.whole = entry.value("whole", true);
  file.rows = entry.contains("rows") ? entry["rows"].get<uint64_t>() : 0;
  if (file.rows > 0) {
    file.first_row = entry["first_row"].get<uint64_t>();
    file.last_row = entry["last_row"].get<uint64_t>();
  }
  file.bytes = entry.value("bytes", uint64_t{0});
  file.sha256 = StringOrEmpty(entry, "sha256");
  return file;
}

Json PieceJson(const ManifestPiece& piece) {
  Json entry;
  entry["piece"] = piece.number;
  entry["min_rowid"] = OrNull(piece.min_rowid);
  entry["max_rowid"] = OrNull(piece.max_rowid);
  entry["attempts"] = piece.attempts;
  entry["status"] = piece.status >= 0 || piece.attempts > 0 ? Json(piece.status) : Json(nullptr);
  entry["complete"] = piece.complete;
  return entry;
}

ManifestPiece ReadPiece(const Json& entry) {
  ManifestPiece piece;
  piece.number = entry.at("piece").get<int32_t>();
  piece.min_rowid = StringOrEmpty(entry, "min_rowid");
  piece.max_rowid = StringOrEmpty(entry, "max_rowid");
  piece.attempts = entry.value("attempts", 0);
  piece.status = entry.contains("status") && entry["status"].is_number_integer()
                     ? entry["status"].get<int32_t>()
                     : -1;
  piece.complete = entry.value("complete", false);
  return piece;
}

// A sha256sum line's name: a backslash and a line break are written as "\\" and "\n", and the
// line then starts with a backslash, as sha256sum itself does.
std::string ChecksumLine(const ManifestFile& file) {
  std::string name;
  bool escaped = false;
  for (char c : file.name) {
    if (c == '\\' || c == '\n' || c == '\r') {
      name += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
      escaped = true;
    } else {
      name += c;
    }
  }
  return (escaped ? "\\" : "") + file.sha256 + "  " + name + "\n";
}

bool WriteWhole(const std::string& path, const std::string& text) {
  OutputStream* stream = OpenFileStream(path.c_str(), OpenMode::kReplaceOnClose);
  if (stream == nullptr) return false;
  if (!WriteAll(stream, text.data(), text.size())) {
    DiscardStream(stream);
    return false;
  }
  return CloseStream(stream) == 0;
}

}  // namespace

ManifestLayout ManifestLayoutOf(const UnloadHandle* job, int64_t fixed_record_length) {
  // A text with its length, or up to its NUL; never past its field.
  auto text = [](const char* bytes, size_t capacity, int32_t length = -1) {
    const size_t count = length >= 0 ? static_cast<size_t>(length) : strnlen(bytes, capacity);
    return std::string(bytes, std::min(count, capacity));
  };
  ManifestLayout layout;
  const bool fixed = job->field_length > 0 && job->field[0] == ' ';
  layout.layout = job->layout[0] != '\0' ? text(job->layout, sizeof job->layout)
                  : fixed                ? "FIXED"
                                         : "TEXT";
  layout.format = job->format;
  layout.field = text(job->field, sizeof job->field, job->field_length);
  layout.record = text(job->record, sizeof job->record, job->record_length);
  layout.quote = text(job->quote, sizeof job->quote);
  layout.null_text = text(job->null, sizeof job->null, job->null_length);
  layout.rowpre = text(job->rowpre, sizeof job->rowpre, job->rowpre_length);
  layout.rowsuf = text(job->rowsuf, sizeof job->rowsuf, job->rowsuf_length);
  layout.colsep = text(job->colsep, sizeof job->colsep, job->colsep_length);
  layout.prehead = text(job->prehead, sizeof job->prehead, job->prehead_length);
  layout.exec = text(job->exec, sizeof job->exec, job->exec_length);
  layout.escape = job->escape;
  layout.escf = text(job->escf, sizeof job->escf);
  layout.esct = text(job->esct, sizeof job->esct);
  layout.double_byte =
      IsDoubleByteCharset(ClientCharsetName(job->charset, EnvironmentValue("NLS_LANG")));
  // The fixed-width layout never writes its header line.
  layout.head = job->head != 0 && !fixed;
  layout.charset = text(job->charset, sizeof job->charset);
  layout.ncharset = text(job->ncharset, sizeof job->ncharset);
  layout.client = job->client != 0;
  layout.fixed_record_length = fixed ? fixed_record_length : 0;
  layout.scrambled = job->crack[0] != '\0';
  return layout;
}

std::string ManifestJson(const Manifest& manifest) {
  Json document;
  document[kManifestKey] = kManifestVersion;
  document["program"] = manifest.program;
  document["started"] = manifest.started;
  document["ended"] = OrNull(manifest.ended);
  PutText(document, "user", manifest.user);
  PutText(document, "connect", manifest.connect);
  PutText(document, "query", manifest.query);
  document["scn"] = OrNull(manifest.scn);
  if (manifest.plan.empty()) {
    document["plan"] = nullptr;
  } else {
    PutText(document, "plan", manifest.plan);
  }
  PutText(document, "table", manifest.table);
  Json binds = Json::array();
  for (const auto& [name, value] : manifest.binds) {
    Json bind;
    PutText(bind, "name", name);
    PutText(bind, "value", value);
    binds.push_back(std::move(bind));
  }
  document["binds"] = std::move(binds);
  document["options"] = LayoutJson(manifest.layout);
  document["status"] = manifest.status >= 0 ? Json(manifest.status) : Json(nullptr);
  document["complete"] = manifest.complete;
  document["failure"] = OrNull(manifest.failure);
  document["lob_set"] = manifest.lob_set != kNoLobSet ? Json(manifest.lob_set) : Json(nullptr);
  document["lobdir"] = manifest.lobdir;
  uint64_t rows = 0;
  Json files = Json::array();
  for (const ManifestFile& file : manifest.files) {
    if (file.kind != kLobFile && file.kind != kControlFile) rows += file.rows;
    files.push_back(FileJson(file));
  }
  Json pieces = Json::array();
  for (const ManifestPiece& piece : manifest.pieces) pieces.push_back(PieceJson(piece));
  document["rows"] = rows;
  document["pieces"] = std::move(pieces);
  document["files"] = std::move(files);
  // Texts that are not UTF-8 went in as byte codes; a failure here would be a fault of ours, so
  // replacement characters are the last resort rather than an exception.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ParseManifest(const std::string& text, Manifest* manifest, std::string* error) {
  const Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    *error = "not a JSON document";
    return false;
  }
  if (!document.contains(kManifestKey) || !document[kManifestKey].is_number_integer()) {
    *error = "not a manifest of this program";
    return false;
  }
  if (document[kManifestKey].get<int>() != kManifestVersion) {
    *error = "a manifest of another version";
    return false;
  }
  try {
    *manifest = Manifest{};
    manifest->program = StringOrEmpty(document, "program");
    manifest->started = StringOrEmpty(document, "started");
    manifest->ended = StringOrEmpty(document, "ended");
    manifest->user = GetText(document, "user");
    manifest->connect = GetText(document, "connect");
    manifest->query = GetText(document, "query");
    manifest->scn = StringOrEmpty(document, "scn");
    manifest->plan = GetText(document, "plan");
    manifest->table = GetText(document, "table");
    for (const Json& bind : document.at("binds")) {
      manifest->binds.emplace_back(GetText(bind, "name"), GetText(bind, "value"));
    }
    ReadLayout(document.at("options"), &manifest->layout);
    manifest->status =
        document["status"].is_number_integer() ? document["status"].get<int32_t>() : -1;
    manifest->complete = document.value("complete", false);
    manifest->failure = StringOrEmpty(document, "failure");
    manifest->lob_set =
        document["lob_set"].is_number_integer() ? document["lob_set"].get<int32_t>() : kNoLobSet;
    manifest->lobdir = document.value("lobdir", 0);
    for (const Json& piece : document.at("pieces")) manifest->pieces.push_back(ReadPiece(piece));
    for (const Json& file : document.at("files")) manifest->files.push_back(ReadFile(file));
  } catch (const Json::exception& failure) {
    *error = std::string("a field is missing or of the wrong type (") + failure.what() + ")";
    return false;
  }
  return true;
}

int LoadManifest(const std::string& path, Manifest* manifest, std::string* error) {
  if (!PathExists(path.c_str())) return kNoManifest;
  std::string text;
  if (!ReadFileBlocks(path, [&](const char* data, size_t count) { text.append(data, count); })) {
    *error = "it cannot be read";
    return kManifestInvalid;
  }
  return ParseManifest(text, manifest, error) ? kManifestLoaded : kManifestInvalid;
}

std::string ChecksumLines(const Manifest& manifest) {
  std::string lines;
  for (const ManifestFile& file : manifest.files) {
    if (file.sha256.empty() || !file.whole || file.kind == kCommandOutput ||
        file.kind == kStandardOutput) {
      continue;
    }
    lines += ChecksumLine(file);
  }
  return lines;
}

bool WriteManifestFiles(const std::string& path, const Manifest& manifest) {
  // The checksums first: a manifest in place always has its checksum list beside it.
  const bool sums = WriteWhole(path + ".sha256", ChecksumLines(manifest));
  return WriteWhole(path, ManifestJson(manifest)) && sums;
}

std::string Sha256Hex(const unsigned char (&digest)[kSha256Bytes]) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

void TakeTally(const StreamTally& tally, ManifestFile* file) {
  file->bytes = tally.bytes;
  file->sha256 = tally.digested ? Sha256Hex(tally.sha256) : "";
}

bool ReadFileBlocks(const std::string& path, const std::function<void(const char*, size_t)>& take) {
  std::FILE* input = std::fopen(path.c_str(), "rb");
  if (input == nullptr) return false;
  std::vector<char> block(size_t{1} << 20);
  size_t got;
  while ((got = std::fread(block.data(), 1, block.size(), input)) > 0) take(block.data(), got);
  const bool whole = std::ferror(input) == 0;
  std::fclose(input);
  return whole;
}

bool HashFile(const std::string& path, uint64_t* bytes, std::string* sha256) {
  Sha256Digest* digest = Sha256Begin();
  uint64_t total = 0;
  const bool read = ReadFileBlocks(path, [&](const char* data, size_t count) {
    Sha256Add(digest, data, count);
    total += count;
  });
  unsigned char value[kSha256Bytes];
  if (!Sha256End(digest, value) || !read) return false;
  *bytes = total;
  *sha256 = Sha256Hex(value);
  return true;
}

std::string FileMismatch(const ManifestFile& file) {
  const int64_t found = FileBytes(file.name.c_str());
  if (found < 0) return "missing";
  const auto bytes = static_cast<uint64_t>(found);
  if (bytes != file.bytes) {
    return std::string(bytes < file.bytes ? "short" : "long") + ": " + std::to_string(bytes) +
           " bytes instead of " + std::to_string(file.bytes);
  }
  if (file.sha256.empty()) return "";
  uint64_t read = 0;
  std::string digest;
  if (!HashFile(file.name, &read, &digest)) return "unreadable";
  if (read != file.bytes) return "changed while read";
  return digest == file.sha256 ? "" : "changed: its SHA-256 is " + digest;
}

std::string UtcTimestamp(int64_t seconds) {
  // Civil date from days since 1970 (proleptic Gregorian), without the C library's time zone.
  const int64_t days = FloorDivide(seconds, 86400);
  const int64_t second_of_day = seconds - days * 86400;
  const CivilDate date = CivilFromDays(days);
  const int64_t year = date.year, month = date.month, day = date.day;
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(second_of_day / 3600),
                static_cast<long long>(second_of_day / 60 % 60),
                static_cast<long long>(second_of_day % 60));
  return text;
}

}  // namespace rowflume
