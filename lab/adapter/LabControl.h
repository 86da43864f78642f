// How phonelab drives the lab adapter inside a running Kestrel.exe, and how the adapter is
// configured. Shared by the lab DLL and phonelab only.
//
// Configuration, read by the DLL when it loads (environment, which Wine passes through):
//   KESTREL_LAB_PRODUCT     product id the adapter reports, e.g. "0x831C" (default 0x831C)
//   KESTREL_LAB_PRESENT     "0" when no device is attached at start (default "1")
//   KESTREL_LAB_LATENCY_US  modelled bus latency per request in microseconds (default 1000)
//   KESTREL_LAB_LOG         file to which every library call is appended, one line each
//   KESTREL_LAB_REFUSE      comma-separated codes that fail from the start, e.g. "2" (the PCI
//                           card refusing bridge registers); "refuse <code> off" lifts one
//   KESTREL_LAB_FAIL_RANDOM "<fraction>[:<seed>]": each request on the bus fails with that
//                           probability, e.g. "0.01:7" (seed 1 when none is given)
//
// Control channel: the DLL runs a hidden top-level window of class LAB_CONTROL_CLASS on a
// thread of its own. phonelab sends it WM_COPYDATA with dwData LAB_CONTROL_MAGIC and a
// zero-terminated text command; the window procedure's result is the command's integer answer.
#pragma once

#define LAB_CONTROL_CLASS "KestrelLabAdapterControl"
#define LAB_CONTROL_MAGIC 0x4C414231u /* "LAB1" */
