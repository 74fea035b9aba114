#include "registry_text.h"

#include <cstring>

#include "bench_names.h"
#include "host_win32.h"
#include "registry_store.h"

namespace appletsim {

using hostboard::kServiceKey;

void Store(const StoredValue &value) {
  std::string key = std::string(kServiceKey) + "\\" + value.subkey;
  if (value.dword) {
    hostreg::PutDword(key, value.name, value.number);
    return;
  }
  std::u16string text = hostreg::FromUtf8(value.text);
  text.push_back(u'\0');
  hostreg::SetValue(hostreg::Make(key), hostreg::FromUtf8(value.name), REG_SZ, text.data(), text.size() * 2);
}

std::vector<std::string> WritesFrom(size_t from) {
  std::vector<std::string> out;
  const auto &writes = hostwin::RegistryWrites();
  const std::string prefix = std::string(kServiceKey) + "\\";
  for (size_t i = from; i < writes.size(); ++i) {
    const hostwin::RegistryWrite &w = writes[i];
    std::string key = w.key.rfind(prefix, 0) == 0 ? w.key.substr(prefix.size()) : w.key;
    std::string data;
    if (w.type == REG_DWORD && w.data.size() == 4) {
      uint32_t number;
      memcpy(&number, w.data.data(), 4);
      data = std::to_string(number);
    } else if (w.type == REG_SZ) {
      std::string text(w.data.begin(), w.data.end());
      if (!text.empty() && text.back() == '\0') text.pop_back();
      data = "\"" + text + "\"";
    } else {
      data = "type " + std::to_string(w.type) + ", " + std::to_string(w.data.size()) + " bytes";
    }
    std::string line = key + "\\" + w.value + " = " + data;
    if (w.result != ERROR_SUCCESS) line += "  (failed: error " + std::to_string(w.result) + ")";
    out.push_back(line);
  }
  return out;
}

size_t WriteCount() { return hostwin::RegistryWrites().size(); }

std::string ServiceKeyListing() { return hostreg::Dump(kServiceKey); }

}  // namespace appletsim
