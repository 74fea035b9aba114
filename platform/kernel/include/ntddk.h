// Host stand-in for <ntddk.h>: everything the driver uses is in <wdm.h>.
#pragma once
#include <wdm.h>
