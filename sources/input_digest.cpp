#include "sources/input_digest.h"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <type_traits>
#include <vector>

namespace Korva::Sources {
namespace {

// The SHA-256 functions of OpenSSL's libcrypto, which is opened on the first
// digest rather than linked: loading it costs every korva run about 9 ms and
// 3 MB, and only summaries and reports hash their inputs. It is opened by
// its file name, so the system's library search finds it (korva's run path
// holds absolute folders only).
struct Digest {
  decltype(&EVP_MD_CTX_new) newContext = nullptr;
  decltype(&EVP_MD_CTX_free) freeContext = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) init = nullptr;
  decltype(&EVP_DigestUpdate) update = nullptr;
  decltype(&EVP_DigestFinal_ex) finish = nullptr;
};

bool gRecording = false;

// Where the warning that libcrypto cannot be opened goes.
std::function<void(const std::string&)>& Warning() {
  static std::function<void(const std::string&)> warn;
  return warn;
}

// Null, with a warning on the first call, when libcrypto cannot be opened.
const Digest* OpenDigest() {
  static const std::optional<Digest> digest = []() -> std::optional<Digest> {
    void* library = ::dlopen(KORVA_CRYPTO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    Digest d;
    const auto find = [library](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
          ::dlsym(library, name));
      return function != nullptr;
    };
    if (library && find(d.newContext, "EVP_MD_CTX_new") &&
        find(d.freeContext, "EVP_MD_CTX_free") &&
        find(d.sha256, "EVP_sha256") && find(d.init, "EVP_DigestInit_ex") &&
        find(d.update, "EVP_DigestUpdate") &&
        find(d.finish, "EVP_DigestFinal_ex"))
      return d;
    if (Warning())
      Warning()(std::string("the inputs' SHA-256 is left out: ") +
                KORVA_CRYPTO_LIBRARY + " cannot be opened");
    return std::nullopt;
  }();
  return digest ? &*digest : nullptr;
}

std::map<std::string, std::string>& Recorded() {
  static std::map<std::string, std::string> digests;
  return digests;
}

}  // namespace

void RecordInputDigests(std::function<void(const std::string&)> warn) {
  gRecording = true;
  Warning() = std::move(warn);
}

InputDigest::InputDigest(std::string path) : path_(std::move(path)) {
  const Digest* digest = gRecording ? OpenDigest() : nullptr;
  if (digest == nullptr) return;
  EVP_MD_CTX* context = digest->newContext();
  if (context != nullptr && digest->init(context, digest->sha256(), nullptr))
    context_ = context;
  else if (context != nullptr)
    digest->freeContext(context);
}

InputDigest::~InputDigest() {
  if (context_ != nullptr)
    OpenDigest()->freeContext(static_cast<EVP_MD_CTX*>(context_));
}

Data::ByteSink InputDigest::Sink() {
  if (context_ == nullptr) return {};
  return [this](std::string_view bytes) {
    OpenDigest()->update(
        static_cast<EVP_MD_CTX*>(context_), bytes.data(), bytes.size());
  };
}

void InputDigest::Keep() {
  if (context_ == nullptr) return;
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  OpenDigest()->finish(static_cast<EVP_MD_CTX*>(context_), value, &length);
  std::string hex;
  char pair[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", value[i]);
    hex += pair;
  }
  Recorded()[path_] = hex;
}

void InputDigest::Record(const std::string& path, std::string_view bytes) {
  InputDigest digest(path);
  if (const Data::ByteSink sink = digest.Sink()) sink(bytes);
  digest.Keep();
}

void RecordFileDigest(const std::string& path) {
  InputDigest digest(path);
  const Data::ByteSink sink = digest.Sink();
  if (!sink) return;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  while (in.read(block.data(), block.size()) || in.gcount() > 0)
    sink(std::string_view(block.data(), in.gcount()));
  if (!in.bad()) digest.Keep();
}

std::string RecordedDigest(const std::string& path) {
  const auto found = Recorded().find(path);
  return found == Recorded().end() ? "" : found->second;
}

}  // namespace Korva::Sources
