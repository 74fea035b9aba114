// dioctl's command line: the commands, their arguments and help texts.
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "dioctl.h"

namespace dioctl {

void Output::Print(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
  fflush(out);
}

int Output::Fail(int code, const char *format, ...) {
  fputs("dioctl: ", err);
  va_list args;
  va_start(args, format);
  vfprintf(err, format, args);
  va_end(args);
  fputc('\n', err);
  fflush(err);
  return code;
}

namespace {

const char kOverview[] =
    "usage: dioctl [--device PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Looks at and drives the DIO board through the TesZEPDIO driver.\n"
    "\n"
    "commands:\n"
    "  list                                   the devices the driver publishes, and its board record\n"
    "  info                                   the board-information bytes, with their fields\n"
    "  read OFFSET [--width 1|2|4]            reads a port of the board's register block\n"
    "  write OFFSET VALUE [--width 1|2|4]     writes a port of the board's register block\n"
    "  watch [--events LIST] [--for SECONDS]  prints each DI event as it is signalled\n"
    "  do-config --start CH,LEVEL|off --shutdown CH,LEVEL|off\n"
    "                                         replaces the DO start/shutdown configuration\n"
    "\n"
    "  --device PATH  the device to open; by default the first one the driver publishes\n"
    "  --help         this text; \"dioctl COMMAND --help\" describes a command\n"
    "\n"
    "Numbers are decimal, or hexadecimal after 0x. Exit codes: 0 done; 1 no device, access\n"
    "denied, or the driver refused the request; 2 the command line is wrong (nothing was sent).\n";

struct Command {
  const char *name;
  int (*run)(const Options &, Output &);
  const char *help;
};

const Command kCommands[] = {
    {"list", List,
     "usage: dioctl list\n"
     "\n"
     "Lists the devices the driver publishes: the present devices of its device interface\n"
     "(SetupDi) and the device map's path (" DIOCTL_MAP_KEY ", value \"" DIO_VALUE_MAP_DEVICE0 "\"), which stays\n"
     "after a removal; then the board the driver recorded in " DIOCTL_BOARD_KEY ":\n"
     "model, port base, interrupt and PCI bus and slot. Fails when no device is present.\n"},
    {"info", Info,
     "usage: dioctl [--device PATH] info\n"
     "\n"
     "Reads the eight board-information bytes (IOCTL_DIO_GET_BOARD_INFO) and names their\n"
     "fields. Only layout-24 boards (model 24) have them; other boards return eight zeros.\n"},
    {"read", Read,
     "usage: dioctl [--device PATH] read OFFSET [--width 1|2|4]\n"
     "\n"
     "Reads 1 (default), 2 or 4 bytes at OFFSET in the board's register block\n"
     "(IOCTL_DIO_READ_PORT_UCHAR/USHORT/ULONG). The driver refuses an access that does not lie\n"
     "wholly inside the block.\n"},
    {"write", Write,
     "usage: dioctl [--device PATH] write OFFSET VALUE [--width 1|2|4]\n"
     "\n"
     "Writes VALUE, 1 (default), 2 or 4 bytes wide, at OFFSET in the board's register block\n"
     "(IOCTL_DIO_WRITE_PORT_UCHAR/USHORT/ULONG). VALUE must fit the width.\n"},
    {"watch", Watch,
     "usage: dioctl [--device PATH] watch [--events LIST] [--for SECONDS]\n"
     "\n"
     "Hands the driver an event object for each event number of LIST (IOCTL_DIO_ENABLE_EVENT),\n"
     "switches on the board's interrupt sources behind them, and prints one line per DI event\n"
     "as it is signalled: the seconds since the start and the event number. Ctrl+C, or the end\n"
     "of SECONDS (fractions allowed), ends it: the sources are set back as they were, the\n"
     "events disabled (IOCTL_DIO_DISABLE_EVENT) and the device closed.\n"
     "\n"
     "LIST: numbers and ranges, \"0,3,8\" or \"0-3\"; by default every event of the board: 0 to 3\n"
     "on the general layout, 0 to 8 on layouts 22 and 24 (on layout 24 the driver signals\n"
     "event 8 only when the board's DI channel count, \"dioctl info\" byte 0, is 8 or more). An\n"
     "event fired again before it was printed is printed once.\n"},
    {"do-config", ConfigureDo,
     "usage: dioctl [--device PATH] do-config --start CH,LEVEL|off --shutdown CH,LEVEL|off\n"
     "\n"
     "Replaces the driver's DO configuration (IOCTL_DIO_DO_SYS_CONFIG): at the board's start\n"
     "and at the system's shutdown, drive DO channel CH (0 to 7) to LEVEL (0 or 1), or drive\n"
     "nothing (off). The board and the registry are not changed: the shutdown setting is used\n"
     "at the next shutdown, and the board's next start reads the \"DO\" key again.\n"},
};

const Command *FindCommand(const std::string &name) {
  for (const Command &c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// A number: decimal, or hexadecimal after 0x; at most `max`.
bool ParseNumber(const char *text, uint64_t max, uint32_t *value) {
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (!*text) return false;
  uint64_t v = 0;
  for (; *text; ++text) {
    int digit;
    char c = *text;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * base + digit;
    if (v > max) return false;
  }
  *value = uint32_t(v);
  return true;
}

// Seconds with at most three decimals, above 0 and at most a million.
bool ParseSeconds(const char *text, DWORD *milliseconds) {
  uint64_t ms = 0;
  int decimals = -1;
  for (; *text; ++text) {
    if (*text == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (*text < '0' || *text > '9' || decimals == 3) return false;
    ms = ms * 10 + (*text - '0');
    if (decimals >= 0) ++decimals;
    if (ms > 1000000000ull) return false;
  }
  for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) ms *= 10;
  if (ms == 0 || ms > 1000000000ull) return false;
  *milliseconds = DWORD(ms);
  return true;
}

// "0,3,8", "0-3,8" or "all".
bool ParseEvents(const char *text, std::vector<int> *events) {
  events->clear();
  if (!strcmp(text, "all")) return true;
  std::string list(text);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t dash = item.find('-');
    uint32_t first, last;
    if (!ParseNumber(item.substr(0, dash).c_str(), DIO_EVENT_COUNT - 1, &first)) return false;
    last = first;
    if (dash != std::string::npos &&
        (!ParseNumber(item.substr(dash + 1).c_str(), DIO_EVENT_COUNT - 1, &last) || last < first)) {
      return false;
    }
    for (uint32_t n = first; n <= last; ++n) events->push_back(int(n));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::sort(events->begin(), events->end());
  events->erase(std::unique(events->begin(), events->end()), events->end());
  return !events->empty();
}

// "CH,LEVEL" or "off" into a trigger, channel and level.
bool ParseDoSetting(const char *text, ULONG *trigger, ULONG *channel, ULONG *level) {
  *trigger = *channel = *level = 0;
  if (!strcmp(text, "off")) return true;
  const char *comma = strchr(text, ',');
  if (!comma) return false;
  uint32_t ch, lv;
  if (!ParseNumber(std::string(text, comma).c_str(), 7, &ch) || !ParseNumber(comma + 1, 1, &lv)) return false;
  *trigger = 1;
  *channel = ch;
  *level = lv;
  return true;
}

// A wrong command line: one line that says what is wrong and where the
// command's help is; exit code 2.
int Usage(Output &output, const char *format, const char *what, const std::string &command) {
  std::string line = std::string(format) + "; see \"dioctl " + (command.empty() ? "" : command + " ") + "--help\"";
  return output.Fail(kDioctlUsage, line.c_str(), what);
}

// What the words of a command line say, before the checks that need them all.
struct CommandLine {
  Options options;
  std::vector<const char *> positional;
  bool help = false;
  bool haveStart = false, haveShutdown = false;
};

bool TakesValue(const std::string &word) {
  for (const char *option : {"--device", "--width", "--events", "--for", "--start", "--shutdown"})
    if (word == option) return true;
  return false;
}

// An option's value, for the command named before it (only --device may come
// before the command). 0, or the exit code of a wrong line.
int ParseOption(const std::string &option, const char *value, CommandLine &line, Output &output) {
  Options &o = line.options;
  const std::string &c = o.command;
  if (option == "--device") {
    o.device = value;
    return kDioctlDone;
  }
  if (option == "--width" && (c == "read" || c == "write")) {
    if (ParseNumber(value, 4, &o.width) && o.width != 0 && o.width != 3) return kDioctlDone;
    return Usage(output, "--width is 1, 2 or 4, not \"%s\"", value, c);
  }
  if (option == "--events" && c == "watch") {
    if (ParseEvents(value, &o.events)) return kDioctlDone;
    return Usage(output, "--events takes event numbers 0 to 8 and ranges, such as 0,3,8 or 0-3, not \"%s\"", value,
                 c);
  }
  if (option == "--for" && c == "watch") {
    if (ParseSeconds(value, &o.milliseconds)) return kDioctlDone;
    return Usage(output, "--for takes seconds above 0 with at most three decimals, not \"%s\"", value, c);
  }
  if ((option == "--start" || option == "--shutdown") && c == "do-config") {
    DIO_DO_CONFIG &d = o.config;
    bool start = option == "--start";
    bool ok = start ? ParseDoSetting(value, &d.TriggerStart, &d.ChannelStart, &d.LevelStart)
                    : ParseDoSetting(value, &d.TriggerShutdown, &d.ChannelShutdown, &d.LevelShutdown);
    if (!ok) return Usage(output, "%s takes CH,LEVEL (channel 0 to 7, level 0 or 1) or off", option.c_str(), c);
    (start ? line.haveStart : line.haveShutdown) = true;
    return kDioctlDone;
  }
  return Usage(output, "%s is not an option of this command", option.c_str(), c);
}

// The words in order: help, options with their values, the command, then
// its arguments. 0, or the exit code of a wrong line.
int ReadWords(int argc, char **argv, Output &output, CommandLine *line) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    const std::string &c = line->options.command;
    if (word == "--help" || word == "-h" || (word == "help" && c.empty())) {
      line->help = true;
    } else if (TakesValue(word)) {
      if (i + 1 >= argc) return Usage(output, "%s needs a value", word.c_str(), c);
      if (int wrong = ParseOption(word, argv[++i], *line, output)) return wrong;
    } else if (word.size() > 1 && word[0] == '-') {
      return Usage(output, "unknown option %s", word.c_str(), c);
    } else if (c.empty()) {
      if (!FindCommand(word)) return Usage(output, "unknown command \"%s\"", word.c_str(), "");
      line->options.command = word;
    } else {
      line->positional.push_back(argv[i]);
    }
  }
  return kDioctlDone;
}

// VALUE of write: a number that fits the width.
int ReadValue(const char *text, Options &o, Output &output) {
  uint64_t max = o.width == 4 ? 0xFFFFFFFFull : (1ull << (8 * o.width)) - 1;
  if (!ParseNumber(text, 0xFFFFFFFFu, &o.value))
    return Usage(output, "VALUE \"%s\" is not a number from 0 to 0xFFFFFFFF", text, o.command);
  if (o.value <= max) return kDioctlDone;
  char what[96];
  snprintf(what, sizeof what, "%s does not fit in %u byte%s (at most 0x%llX)", text, unsigned(o.width),
           o.width == 1 ? "" : "s", (unsigned long long)max);
  return Usage(output, "VALUE %s", what, o.command);
}

// OFFSET of read, OFFSET and VALUE of write; the other commands take none.
int ReadArguments(CommandLine &line, Output &output) {
  Options &o = line.options;
  const std::string &c = o.command;
  size_t wanted = c == "read" ? 1 : c == "write" ? 2 : 0;
  if (line.positional.size() != wanted) {
    return Usage(output, wanted == 0 ? "%s takes no arguments" : wanted == 1 ? "%s takes one OFFSET"
                                                                              : "%s takes OFFSET and VALUE",
                 c.c_str(), c);
  }
  if (wanted >= 1 && !ParseNumber(line.positional[0], 0xFFFFFFFFu, &o.offset))
    return Usage(output, "OFFSET \"%s\" is not a number from 0 to 0xFFFFFFFF", line.positional[0], c);
  if (wanted == 2) return ReadValue(line.positional[1], o, output);
  return kDioctlDone;
}

// The options a command needs together, or not at all.
int CheckOptions(const CommandLine &line, Output &output) {
  const std::string &c = line.options.command;
  if (c == "do-config" && !(line.haveStart && line.haveShutdown))
    return Usage(output, "%s needs both --start and --shutdown: the request replaces both", c.c_str(), c);
  if (c == "list" && !line.options.device.empty())
    return Usage(output, "%s lists every device; --device is not for it", c.c_str(), c);
  return kDioctlDone;
}

}  // namespace

}  // namespace dioctl

int DioctlMain(int argc, char **argv, FILE *out, FILE *err) {
  using namespace dioctl;
  Output output{out, err};
  CommandLine line;
  if (int wrong = ReadWords(argc, argv, output, &line)) return wrong;
  const Command *command = FindCommand(line.options.command);
  if (line.help) {
    output.Print("%s", command ? command->help : kOverview);
    return kDioctlDone;
  }
  if (!command) return Usage(output, "%s", "no command given", "");
  if (int wrong = ReadArguments(line, output)) return wrong;
  if (int wrong = CheckOptions(line, output)) return wrong;
  return command->run(line.options, output);
}

int DioctlCommandLine(const char *commandLine, FILE *out, FILE *err) {
  std::vector<std::string> words{"dioctl"};
  for (const char *p = commandLine; *p;) {
    while (*p == ' ') ++p;
    const char *end = p;
    while (*end && *end != ' ') ++end;
    if (end != p) words.emplace_back(p, end);
    p = end;
  }
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  return DioctlMain(int(words.size()), argv.data(), out, err);
}
