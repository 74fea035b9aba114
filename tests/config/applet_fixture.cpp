#include "applet_fixture.h"

#include <algorithm>
#include <cstring>

namespace applettest {

void Configured(uint32_t deviceType, const diolib::Board &board) {
  InstallDriver(deviceType);
  PutText(kCounterKey, DIO_VALUE_TIME_BASE, "0");
  diolib::Configure(board);
}

void PutText(const std::string &key, const std::string &name, const std::string &text, bool terminated,
             uint32_t type) {
  std::u16string wide = hostreg::FromUtf8(text);
  if (terminated) wide.push_back(u'\0');
  hostreg::SetValue(hostreg::Make(key), hostreg::FromUtf8(name), type, wide.data(), wide.size() * 2);
}

void PutRaw(const std::string &key, const std::string &name, uint32_t type, const std::vector<uint8_t> &bytes) {
  hostreg::SetValue(hostreg::Make(key), hostreg::FromUtf8(name), type, bytes.data(), bytes.size());
}

// The value's data; a failure where it is not there or not of `type`.
std::vector<uint8_t> Data(const std::string &key, const std::string &name, uint32_t type) {
  hostreg::Value value;
  if (!hostreg::GetValue(key, name, &value)) ADD_FAILURE() << "no value " << name << " in " << key;
  else EXPECT_EQ(value.type, type) << name;
  return value.data;
}

uint32_t Dword(const std::string &key, const std::string &name) {
  std::vector<uint8_t> data = Data(key, name, REG_DWORD);
  EXPECT_EQ(data.size(), 4u) << name;
  uint32_t dword = 0xDEADBEEF;
  if (data.size() == 4) memcpy(&dword, data.data(), 4);
  return dword;
}

std::string Text(const std::string &key, const std::string &name) {
  std::vector<uint8_t> data = Data(key, name, REG_SZ);
  std::u16string wide(data.size() / 2, u'\0');
  if (!wide.empty()) memcpy(&wide[0], data.data(), wide.size() * 2);
  EXPECT_TRUE(!wide.empty() && wide.back() == u'\0') << name << " is stored without its terminator";
  if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
  return hostreg::ToUtf8(wide);
}

std::vector<std::string> ControlCommand(const std::string &commandLine) {
  std::vector<std::string> out;
  for (const auto &call : hostwin::RunControlCommandLine(commandLine))
    out.push_back(hostwin::CplMessageName(call.message) + "=" + std::to_string(call.result));
  return out;
}

std::vector<std::string> LibrarySince(size_t mark) {
  std::vector<std::string> out;
  for (size_t i = mark; i < diolib::Calls().size(); ++i) out.push_back(diolib::Describe(diolib::Calls()[i]));
  return out;
}

std::vector<std::string> WritesSince(size_t mark, const std::string &only) {
  std::vector<std::string> out;
  const auto &writes = hostwin::RegistryWrites();
  for (size_t i = mark; i < writes.size(); ++i) {
    const auto &w = writes[i];
    std::string key = w.key.substr(w.key.rfind('\\') + 1);
    if (!only.empty() && key != only) continue;
    std::string data;
    if (w.type == REG_DWORD && w.data.size() == 4) {
      uint32_t v;
      memcpy(&v, w.data.data(), 4);
      data = std::to_string(v);
    } else {
      data.assign(w.data.begin(), w.data.end());
      if (!data.empty() && data.back() == '\0') data.pop_back();
    }
    out.push_back(key + "\\" + w.value + "=" + data);
  }
  return out;
}

std::string Label(HWND control) {
  std::string text = hostwin::Text(control), out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && ++i == text.size()) break;
    out.push_back(text[i]);
  }
  return out;
}

HWND Page(HWND dialog, int templateId) {
  for (HWND child : hostwin::Children(dialog))
    if (hostwin::TemplateId(child) == templateId) return child;
  return nullptr;
}

HWND ShowPage(HWND dialog, int templateId) {
  int tab = 0;
  for (HWND child : hostwin::Children(dialog)) {
    int id = hostwin::TemplateId(child);
    if (id == templateId) {
      EXPECT_TRUE(hostwin::ClickTab(Item(dialog, IDC_TAB), tab)) << "tab " << tab;
      EXPECT_TRUE(IsWindowVisible(child)) << "page " << templateId;
      return child;
    }
    if (id) ++tab;
  }
  ADD_FAILURE() << "no page " << templateId;
  return nullptr;
}

bool Ticked(HWND page, int indicator) {
  hostwin::Picture picture;
  if (!hostwin::PaintOwnerDrawn(Item(page, indicator), &picture)) {
    ADD_FAILURE() << "indicator " << indicator << " is not drawn by the page";
    return false;
  }
  size_t green = std::count(picture.pixels.begin(), picture.pixels.end(), 0x008000u);
  size_t red = std::count(picture.pixels.begin(), picture.pixels.end(), 0xFF0000u);
  EXPECT_TRUE((green > 0) != (red > 0)) << "indicator " << indicator << ": a tick or a cross";
  std::string name = hostwin::Text(Item(page, indicator));
  EXPECT_EQ(name.substr(name.find(':')), green ? ": supported" : ": not supported") << indicator;
  return green > 0;
}

bool Checked(HWND page, int button) {
  return SendDlgItemMessageA(page, button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsList(HWND control) { return hostwin::ClassName(control) == "ComboBox"; }

void Set(HWND dialog, const std::vector<Setting> &settings) {
  for (const Setting &s : settings) {
    HWND page = ShowPage(dialog, s.page), control = Item(page, s.control);
    ASSERT_TRUE(IsList(control) ? hostwin::ChooseItem(control, int(s.value))
                                : Checked(page, s.control) != bool(s.value) && hostwin::Click(control))
        << "control " << s.control;
  }
}

std::vector<LRESULT> Shown(HWND dialog, const std::vector<Setting> &settings) {
  std::vector<LRESULT> shown;
  for (const Setting &s : settings) {
    HWND page = Page(dialog, s.page);
    shown.push_back(IsList(Item(page, s.control)) ? Selection(page, s.control) : Checked(page, s.control));
  }
  return shown;
}

std::vector<LRESULT> Values(const std::vector<Setting> &settings) {
  std::vector<LRESULT> values;
  for (const Setting &s : settings) values.push_back(s.value);
  return values;
}

void AppletTest::Load() {
  ASSERT_FALSE(loaded_);
  ASSERT_TRUE(hostwin::OpenControlPanel(path_, &panel_)) << "the applet did not load from " << path_;
  loaded_ = true;
}

void AppletTest::Load(uint32_t deviceType, const diolib::Board &board) {
  InstallDriver(deviceType);
  diolib::Configure(board);
  Load();
}

void AppletTest::OpenDialog(std::function<void(HWND dialog)> user, int close) {
  ASSERT_TRUE(loaded_);
  hostwin::WhenDialogOpens([user, close](HWND dialog) {
    if (user) user(dialog);
    EXPECT_TRUE(!close || hostwin::Click(Item(dialog, close)));
  });
  EXPECT_EQ(hostwin::DoubleClick(&panel_, 0), 0);
}

void AppletTest::OnPage(int templateId, std::function<void(HWND page)> user, int close) {
  OpenDialog(
      [&](HWND dialog) {
        HWND page = ShowPage(dialog, templateId);
        ASSERT_NE(page, nullptr);
        user(page);
      },
      close);
}

void AppletTest::StartOver(const std::string &what) {
  Unload();
  EXPECT_EQ(hostwin::Outstanding(), std::vector<std::string>()) << "left by the case before";
  EXPECT_EQ(diolib::Outstanding(), std::vector<std::string>()) << "left by the case before";
  hostwin::ResetDesktop();
  diolib::Reset();
  hostreg::Reset();
  case_.reset();  // traces end in the order they began
  case_ = std::make_unique<testing::ScopedTrace>(__FILE__, __LINE__, what);
}

void AppletTest::Unload() {
  if (!loaded_) return;
  hostwin::CloseControlPanel(&panel_);
  loaded_ = false;
}

void AppletTest::TearDown() {
  Unload();
  case_.reset();
}

}  // namespace applettest
