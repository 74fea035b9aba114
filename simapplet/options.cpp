#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dio_registry.h"

namespace appletsim {
namespace {

bool Number(const char *text, int64_t max, int64_t *out) {
  char *end;
  errno = 0;
  long long value = strtoll(text, &end, 0);
  if (!*text || *end || errno || value < 0 || value > max) return false;
  *out = value;
  return true;
}

// "Subkey\Value=data"
bool ParseStored(const char *text, bool dword, StoredValue *out) {
  const char *slash = strchr(text, '\\');
  const char *equals = slash ? strchr(slash, '=') : nullptr;
  if (!slash || !equals || slash == text || equals == slash + 1) return false;
  out->subkey.assign(text, slash);
  out->name.assign(slash + 1, equals);
  out->dword = dword;
  if (!dword) {
    out->text = equals + 1;
    return true;
  }
  int64_t number;
  if (!Number(equals + 1, 0xFFFFFFFFll, &number)) return false;
  out->number = uint32_t(number);
  return true;
}

}  // namespace

const char *Usage() {
  return "usage: applet_sim [--model N] [--no-board] [--standard-user]\n"
         "                  [--features FLAGS] [--di N] [--do N] [--interrupts N] [--pled N] [--fpga N]\n"
         "                  [--set SUBKEY\\VALUE=TEXT]... [--set-dword SUBKEY\\VALUE=N]...\n"
         "                  [--loads N] [--close ok|cancel|apply] [--applet PATH]\n"
         "\n"
         "  --model       board model the driver records in " DIO_KEY_DEVICE000_NAME " (default 24)\n"
         "  --no-board    load the driver but start no board: no " DIO_KEY_DEVICE000_NAME "\n"
         "  --standard-user  run the applet as a standard user, or an administrator\n"
         "                whose Control Panel is not elevated: the service key is read-only;\n"
         "                the user declines the applet's offer to open elevated\n"
         "  --features    feature flags the DIO library reports (default 0x7E)\n"
         "  --di, --do    DI and DO channel counts it reports (default 16 and 8)\n"
         "  --interrupts  DI interrupt channels (model 24; default 4)\n"
         "  --pled        program LEDs (model 24; default 4)\n"
         "  --fpga        FPGA version (model 24; default 3)\n"
         "  --set         a REG_SZ under the service key before the applet loads,\n"
         "                e.g. --set " DIO_KEY_COUNTER_NAME "\\" DIO_VALUE_TIME_BASE "=2 --set " DIO_KEY_COUNTER_NAME
         "\\" DIO_VALUE_COUNTER_A_OUTPUT "=" DIO_DATA_OUTPUT_DO "\n"
         "  --set-dword   a REG_DWORD likewise, e.g. --set-dword " DIO_KEY_DO_NAME "\\" DIO_VALUE_DO_TRIGGER_START "=1\n"
         "  --loads       load the applet this many times in a row (default 1)\n"
         "  --close       the button that ends each dialog (default ok; apply: Apply, then OK)\n"
         "  --applet      the applet library (default: the one built with this program)\n";
}

bool ParseOptions(int argc, char **argv, Options *o) {
  struct Count {
    const char *flag;
    int64_t *field;
    int64_t max;
  };
  const Count counts[] = {{"--features", &o->features, 0xFFFFFFFFll}, {"--di", &o->diCount, 255},
                          {"--do", &o->doCount, 255},                 {"--interrupts", &o->interruptCount, 255},
                          {"--pled", &o->pledCount, 255},             {"--fpga", &o->fpgaVersion, 255}};
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool used = false, ok = true;
    if (!strcmp(arg, "--no-board")) {
      o->startBoard = false;
      continue;
    }
    if (!strcmp(arg, "--standard-user")) {
      o->standardUser = true;
      continue;
    }
    if (!value) {
      fprintf(stderr, "applet_sim: %s needs a value or is not an option\n", arg);
      return false;
    }
    if (!strcmp(arg, "--model")) {
      int64_t model;
      ok = Number(value, 0xFFFFFFFFll, &model);
      o->model = uint32_t(model);
      used = true;
    }
    for (const Count &count : counts) {
      if (!strcmp(arg, count.flag)) {
        ok = Number(value, count.max, count.field);
        used = true;
      }
    }
    if (!strcmp(arg, "--set") || !strcmp(arg, "--set-dword")) {
      StoredValue stored;
      ok = ParseStored(value, !strcmp(arg, "--set-dword"), &stored);
      o->stored.push_back(stored);
      used = true;
    } else if (!strcmp(arg, "--loads")) {
      int64_t loads;
      ok = Number(value, 10, &loads) && loads > 0;
      o->loads = int(loads);
      used = true;
    } else if (!strcmp(arg, "--close")) {
      o->closeWith = !strcmp(value, "ok") ? 1 : !strcmp(value, "cancel") ? 2 : !strcmp(value, "apply") ? 3 : 0;
      ok = o->closeWith != 0;
      used = true;
    } else if (!strcmp(arg, "--applet")) {
      o->appletPath = value;
      used = true;
    }
    if (!used || !ok) {
      fprintf(stderr, "applet_sim: cannot use %s %s\n", arg, value);
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace appletsim
