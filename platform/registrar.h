// The registrar: runs registry scripts (the .rgs syntax of COM servers) in registration or
// unregistration mode.
//
//   HKCR
//   {
//     NoRemove CLSID                     kept at unregistration; only what it lists goes
//     {
//       ForceRemove {..} = s 'text'      replaced whole at registration, removed at unregistration
//       {
//         InprocServer32 = s '%MODULE%'  %NAME% is a replacement; %% is a plain '%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//     Delete Old                         removed at registration, left alone at unregistration
//   }
//
// Names and texts are bare words or 'quoted' ('' inside quotes is one quote). Roots: HKCR,
// HKCU, HKLM and their long forms. Values are strings ('s'). A key without NoRemove is removed
// with everything below it at unregistration. HKCR stands for HKLM\Software\Classes, or for
// HKCU\Software\Classes when per-user registration is in force (AtlSetPerUserRegistration):
// through the merged view a machine-wide registration would land in the user's store wherever
// the user already has a key of the same name (CLSID, say).
//
// A script is parsed whole before any key is touched: a parse error (DISP_E_EXCEPTION, with
// the line and reason as the thread's error information) changes nothing.
//
// Threads: one object is used by one thread; the registry itself may be shared.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

class CRegObject {
 public:
  // key without the percent signs ("MODULE").
  HRESULT AddReplacement(const WCHAR* key, const WCHAR* item);
  HRESULT ClearReplacements();

  HRESULT StringRegister(const WCHAR* script) { return Run(script, true); }
  HRESULT StringUnregister(const WCHAR* script) { return Run(script, false); }

 private:
  HRESULT Run(const WCHAR* script, bool doRegister);

  std::vector<std::pair<std::string, std::string>> replacements_;
};

// The process-wide switch that makes registration per user (the registrar's HKCR and the
// type library registration of modules).
HRESULT AtlSetPerUserRegistration(bool perUser);
HRESULT AtlGetPerUserRegistration(bool* perUser);

#pragma GCC visibility pop
