// The user-string grammar, the connect descriptor and the host pick on arbitrary text. The parts
// of a user string are compared with an independent split of the text; a descriptor is taken
// apart again and must name the port, the SID and one host of the list; a refused or unfitting
// result must leave the caller's buffer as it was.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/session.h"
#include "fuzz/fuzz_input.h"

namespace rowflume::fuzz {
namespace {

constexpr char kDescriptorHead[] = "(DESCRIPTION=(ADDRESS_LIST=(ADDRESS=(HOST=";
constexpr char kDescriptorPort[] = ")(PROTOCOL=TCP)(PORT=";
constexpr char kDescriptorSid[] = ")))(CONNECT_DATA=(SID=";
constexpr char kDescriptorTail[] = ")(SERVER=DEDICATED)))";

// The entries a host pick may choose from: the list ends at the first colon, a comma at its very
// end belongs to the last entry, and only the first ten entries count.
std::vector<std::string> HostEntries(const std::string& hosts) {
  std::string list = hosts.substr(0, hosts.find(':'));
  bool trailing_comma = !list.empty() && list.back() == ',';
  if (trailing_comma) list.pop_back();
  std::vector<std::string> entries(1);
  for (char c : list) {
    if (c == ',') {
      entries.emplace_back();
    } else {
      entries.back() += c;
    }
  }
  if (trailing_comma) entries.back() += ',';
  if (entries.size() > 10) entries.resize(10);
  return entries;
}

size_t CountColons(const std::string& text) {
  size_t colons = 0;
  for (char c : text) colons += c == ':';
  return colons;
}

// A host list hosts:port:sid: two colons, a port of one or more digits and no slash. Only these
// become descriptors.
bool IsHostList(const std::string& text) {
  if (CountColons(text) != 2 || text.find('/') != std::string::npos) return false;
  size_t first = text.find(':');
  size_t second = text.find(':', first + 1);
  if (second == first + 1) return false;
  for (size_t pos = first + 1; pos < second; ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return false;
  }
  return true;
}

// The descriptor ResolveConnect builds for hosts:port:sid with the given host.
std::string Descriptor(const std::string& connect, const std::string& host) {
  size_t first = connect.find(':');
  size_t second = connect.find(':', first + 1);
  return kDescriptorHead + host + kDescriptorPort + connect.substr(first + 1, second - first - 1) +
         kDescriptorSid + connect.substr(second + 1) + kDescriptorTail;
}

// True when appended is the descriptor of connect for one of its hosts.
bool IsDescriptorOf(const std::string& appended, const std::string& connect) {
  for (const std::string& host : HostEntries(connect)) {
    if (appended == Descriptor(connect, host)) return true;
  }
  return false;
}

void CheckPickHost(int out_size, const std::string& hosts) {
  auto out = std::make_unique<char[]>(static_cast<size_t>(out_size) + 1);
  int length = PickHost(out.get(), out_size, hosts.c_str());
  std::vector<std::string> entries = HostEntries(hosts);
  if (length < 0) {
    FUZZ_CHECK(length == -1);
    bool some_too_long = false;
    for (const std::string& entry : entries)
      some_too_long |= entry.size() > static_cast<size_t>(out_size);
    FUZZ_CHECK(some_too_long);
    return;
  }
  FUZZ_CHECK(length <= out_size);
  std::string picked(out.get(), static_cast<size_t>(length));
  bool listed = false;
  for (const std::string& entry : entries) listed |= entry == picked;
  FUZZ_CHECK(listed);
}

void CheckResolveConnect(int out_size, const std::string& prefix, const std::string& connect) {
  auto out = std::make_unique<char[]>(static_cast<size_t>(out_size));
  std::memset(out.get(), '#', static_cast<size_t>(out_size));
  size_t copied = prefix.size() < static_cast<size_t>(out_size) ? prefix.size() : out_size;
  std::memcpy(out.get(), prefix.data(), copied);
  if (copied < static_cast<size_t>(out_size)) out[copied] = '\0';
  std::string before(out.get(), static_cast<size_t>(out_size));

  bool fits = ResolveConnect(out.get(), out_size, connect.c_str());
  size_t used = strnlen(before.data(), static_cast<size_t>(out_size));
  if (!fits) {
    // The text is as it was, terminator included; bytes after the terminator do not count.
    size_t kept = used < static_cast<size_t>(out_size) ? used + 1 : used;
    FUZZ_CHECK(std::memcmp(out.get(), before.data(), kept) == 0);
    if (used < static_cast<size_t>(out_size) && !IsHostList(connect)) {
      FUZZ_CHECK(used + connect.size() >= static_cast<size_t>(out_size));
    }
    return;
  }
  FUZZ_CHECK(used < static_cast<size_t>(out_size));
  FUZZ_CHECK(std::memcmp(out.get(), before.data(), used) == 0);
  size_t total = strnlen(out.get(), static_cast<size_t>(out_size));
  FUZZ_CHECK(total < static_cast<size_t>(out_size));
  std::string appended(out.get() + used, total - used);
  if (!IsHostList(connect)) {
    FUZZ_CHECK(appended == connect);
  } else {
    FUZZ_CHECK(IsDescriptorOf(appended, connect));
  }
}

// The three parts of a user string, split without the parser: a double quote toggles quoting,
// the user name ends at a slash or an unquoted at sign, the password at an unquoted at sign.
struct UserParts {
  std::string user;
  std::string password;
  bool has_connect = false;
  std::string connect;
};

UserParts SplitUserString(const std::string& text) {
  UserParts parts;
  enum { kUser, kPassword, kConnect } part = kUser;
  bool quoted = false;
  for (char c : text) {
    if (part == kConnect) {
      parts.connect += c;
      continue;
    }
    if (c == '/' && part == kUser) {
      part = kPassword;
      continue;
    }
    if (c == '@' && !quoted) {
      part = kConnect;
      parts.has_connect = true;
      continue;
    }
    if (c == '"') quoted = !quoted;
    (part == kUser ? parts.user : parts.password) += c;
  }
  return parts;
}

bool IsSys(const std::string& name) {
  if (name.size() != 3) return false;
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper == "SYS";
}

template <size_t N>
std::string Terminated(const char (&field)[N]) {
  const void* end = std::memchr(field, '\0', N);
  FUZZ_CHECK(end != nullptr);
  return std::string(field, static_cast<const char*>(end) - field);
}

void CheckParseUserString(size_t message_size, const std::string& text) {
  LogonCredentials credentials;
  std::memset(&credentials, '#', sizeof credentials);
  auto message = std::make_unique<char[]>(message_size + 1);
  int result = ParseUserString(text.c_str(), &credentials,
                               message_size > 0 ? message.get() : nullptr, message_size);
  FUZZ_CHECK(result == 0 || result == -1);
  if (message_size > 0) FUZZ_CHECK(strnlen(message.get(), message_size) < message_size);

  UserParts parts = SplitUserString(text);
  bool sys = IsSys(parts.user);
  bool external = parts.user.empty() || (sys && !(parts.has_connect && !parts.password.empty()));
  if (result != 0) {
    std::string said(message.get(), message_size > 0 ? strnlen(message.get(), message_size) : 0);
    if (message_size > 80) FUZZ_CHECK(!said.empty() && said.back() == '\n');
    bool user_long = !external && (parts.user.size() > static_cast<size_t>(kMaxUserName) ||
                                   parts.password.size() > static_cast<size_t>(kMaxPassword));
    FUZZ_CHECK(user_long || parts.has_connect);
    return;
  }

  std::string user = Terminated(credentials.user);
  std::string password = Terminated(credentials.password);
  std::string connect = Terminated(credentials.connect);
  FUZZ_CHECK(credentials.mode == (sys ? OCI_SYSDBA : OCI_DEFAULT));
  if (external) {
    FUZZ_CHECK(credentials.credential_type == OCI_CRED_EXT);
    FUZZ_CHECK(user.empty() && password.empty());
  } else {
    FUZZ_CHECK(credentials.credential_type == OCI_CRED_RDBMS);
    FUZZ_CHECK(user == parts.user);
    FUZZ_CHECK(password == parts.password);
  }
  if (!parts.has_connect) {
    FUZZ_CHECK(connect.empty());
  } else if (!IsHostList(parts.connect)) {
    FUZZ_CHECK(connect == parts.connect);
  } else {
    FUZZ_CHECK(IsDescriptorOf(connect, parts.connect));
  }
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume::fuzz;
  Input input(data, size);
  int mode = input.Byte() % 3;
  if (mode == 0) {
    size_t message_size = static_cast<size_t>(input.Int(0, 200));
    std::string text = input.Rest();
    CheckParseUserString(message_size, text.substr(0, std::strlen(text.c_str())));
  } else if (mode == 1) {
    int out_size = input.Int(1, 400);
    std::string prefix = input.Bytes(static_cast<size_t>(input.Int(0, 400)));
    prefix = prefix.substr(0, std::strlen(prefix.c_str()));
    std::string connect = input.Rest();
    CheckResolveConnect(out_size, prefix, connect.substr(0, std::strlen(connect.c_str())));
  } else {
    int out_size = input.Int(0, 300);
    std::string hosts = input.Rest();
    CheckPickHost(out_size, hosts.substr(0, std::strlen(hosts.c_str())));
  }
  return 0;
}
