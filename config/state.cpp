// The applet's one module-wide record, with its values at load. Every field
// not named here starts at 0. The record is filled by the compiler (constant
// initialisation), so loading the module runs no code for it; DllMain only
// adds the module's instance.
#include "applet.h"

namespace {

constexpr APPLET_STATE InitialState() {
  APPLET_STATE state = {};
  state.counterAClockInternal = 1;
  state.counterAGateInternal = 1;
  state.counterAOutputRegister = 1;
  state.counterBClockInternal = 1;
  state.counterBGateInternal = 1;
  state.counterBOutputRegister = 1;
  state.diRisingEdge[0] = 1;
  state.diEnable[0] = 1;
  for (int &enabled : state.di9Enable) enabled = 1;
  state.doConfig.LevelStart = 1;
  state.doConfig.LevelShutdown = 1;
  return state;
}

}  // namespace

APPLET_STATE gApplet = InitialState();
