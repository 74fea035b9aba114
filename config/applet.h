// TesZEPDIOConfig: the Control Panel applet that configures the DIO board's
// driver. Chief header: the applet's one module-wide record APPLET_STATE,
// the registry keys it uses, and prototypes grouped by the file that defines
// them.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <cpl.h>
#include <uxtheme.h>

#include "TesZEPDIO.h"
#include "dio_registers.h"  // the board model codes
#include "dio_registry.h"   // the keys and values under HKEY_LOCAL_MACHINE
#include "resources/resource.h"

// Registry texts are read into buffers of this size.
#define DIO_TEXT_BUFFER 260

// The DI interrupt tables hold channels 0 to 15; the nine-channel page has
// channels 0 to 8.
#define DIO_MAX_DI_CHANNELS 16
#define DIO_DI9_CHANNELS 9
#define DIO_MAX_PAGES 4

// Feature flags reported by the library (low-order byte).
#define DIO_FEATURE_COUNTER 0x02
#define DIO_FEATURE_LED 0x04
#define DIO_FEATURE_PLED 0x08
#define DIO_FEATURE_BUZZER 0x10
#define DIO_FEATURE_POWER_STATE 0x20
#define DIO_FEATURE_DI_INTERRUPT 0x40

typedef struct _APPLET_STATE {
  // The device, as found by InitializeApplet.
  int deviceType;
  HANDLE deviceHandle;
  DWORD infoDiCount;
  DWORD infoDoCount;
  DWORD featureFlags;
  DIO_INFO dioInfo;

  // Counter settings ("Counter" key).
  int counterAClockInternal;
  int counterAGateInternal;
  int counterAOutputRegister;
  int counterBClockInternal;
  int counterBGateInternal;
  int counterBOutputRegister;
  int timeBase;
  int selectedCounter;

  // DI interrupt settings ("Interrupt" key).
  int diRisingEdge[DIO_MAX_DI_CHANNELS];
  int diEnable[DIO_MAX_DI_CHANNELS];
  int di9Enable[DIO_DI9_CHANNELS];
  int selectedChannel;

  // DO start/shutdown settings ("DO" key), as the driver takes them: the
  // channels are list positions (0 = DO0), triggers and levels 1 or 0.
  DIO_DO_CONFIG doConfig;

  // Windows.
  HINSTANCE moduleInstance;
  HWND cplWindow;
  HWND tabControl;
  HWND pageTable[DIO_MAX_PAGES];  // the page of each tab position
  HHOOK tabKeys;  // the main dialog's hook for Ctrl+Tab and Ctrl+PgDn

  // 1 when the settings came on the command line from an applet that could
  // not store them and started this one elevated.
  int editsCarried;
} APPLET_STATE;

// ---------------------------------------------------------------------------
// state.cpp
extern APPLET_STATE gApplet;

// ---------------------------------------------------------------------------
// cplapplet.cpp
EXTERN_C LONG APIENTRY CPlApplet(HWND cplWindow, UINT message, LPARAM lParam1, LPARAM lParam2);
EXTERN_C BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// ---------------------------------------------------------------------------
// init.cpp
int InitializeApplet(void);
BOOL IsDriverInstalled(void);

// ---------------------------------------------------------------------------
// elevation.cpp: a Control Panel that cannot store the settings restarts
// the applet elevated, with the edits made so far
BOOL SettingsNeedElevation(void);
BOOL ProcessIsElevated(void);
// Whether an elevated restart could store what this applet cannot: not
// when it runs elevated already or was started by such a restart.
BOOL ElevationCanHelp(void);
DWORD RestartElevated(HWND owner);

// ---------------------------------------------------------------------------
// carried_edits.cpp: the edits on the elevated restart's command line
BOOL WriteCarriedEdits(WCHAR *text, size_t size);
BOOL TakeCarriedEdits(LPCWSTR text);

// ---------------------------------------------------------------------------
// registry_io.cpp: reads that leave the caller's field alone when the value
// cannot be read, and texts that are always terminated
BOOL KeyExists(LPCSTR path);
BOOL ReadRegistryText(HKEY key, LPCSTR name, char *buffer, DWORD size);
BOOL ReadRegistryDword(HKEY key, LPCSTR name, DWORD *value);
LSTATUS WriteRegistryText(HKEY key, LPCSTR name, LPCSTR text);
LSTATUS WriteRegistryDword(HKEY key, LPCSTR name, DWORD value);
// The status to report of two in a row: the first that failed.
LSTATUS FirstFailure(LSTATUS first, LSTATUS next);
int TextToInt(const char *text);

// ---------------------------------------------------------------------------
// main_dialog.cpp
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------
// support_page.cpp
INT_PTR CALLBACK SupportPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int FillSupportPage(HWND page);

// ---------------------------------------------------------------------------
// do_page.cpp
INT_PTR CALLBACK DoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void FillDoPage(HWND page);

// ---------------------------------------------------------------------------
// Saving. Each Save...Settings routine returns ERROR_SUCCESS when every value
// was stored, or the first error of opening the key or of a write: a
// standard user, and an administrator whose Control Panel is not elevated,
// may read the driver's service key but not change it.

// ---------------------------------------------------------------------------
// do_settings.cpp
int LoadDoSettings(void);
LSTATUS SaveDoSettings(int fromDialog);
int ApplyDoSettings(DIO_DO_CONFIG *config);

// ---------------------------------------------------------------------------
// interrupt_settings.cpp
int InterruptChannelCount(void);
int LoadInterruptSettings(void);
LSTATUS SaveInterruptSettings(int fromDialog);
int LoadInterrupt9Settings(void);
LSTATUS SaveInterrupt9Settings(int fromDialog);

// ---------------------------------------------------------------------------
// channel_list.cpp: what the two DI interrupt pages share
void FillChannelList(HWND page, int list, int channels);
int EditedChannel(HWND page, int list, int channels);
int ShowSelectedChannel(HWND page, int list, int channels);
void ChooseChannel(HWND page, int list);
void SetButton(HWND page, int id, int on);
int ButtonChecked(HWND page, int id);

// ---------------------------------------------------------------------------
// interrupt_page.cpp
INT_PTR CALLBACK InterruptPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void InitInterruptPage(HWND page);
int RefreshInterruptControls(HWND page);

// ---------------------------------------------------------------------------
// interrupt9_page.cpp
INT_PTR CALLBACK Interrupt9PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void InitInterrupt9Page(HWND page);
int RefreshInterrupt9Controls(HWND page);

// ---------------------------------------------------------------------------
// counter_settings.cpp
int LoadCounterSettings(void);
LSTATUS SaveCounterSettings(int fromDialog);

// ---------------------------------------------------------------------------
// counter_page.cpp
INT_PTR CALLBACK CounterPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void InitCounterPage(HWND page);
int RelabelCounterSources(HWND page);
int RefreshCounterControls(HWND page);
