// platform/com/registry_script.h: registry scripts, the text a module carries to say which keys its
// registration writes and its unregistration removes.
//
//   HKCR
//   {
//       Tarvo.Cmd.1 = s 'Cmd Class'            a key with its default value (s text, d number)
//       {
//           CLSID = s '{...}'
//       }
//       NoRemove CLSID                         kept on unregistration; only what is inside goes
//       {
//           ForceRemove {...} = s 'Cmd Class'  removed first, then written anew
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'    a named value
//               }
//               'Programmable'                 a quoted name; '' is a quote inside quotes
//           }
//       }
//       Delete Old.Key                         removed at registration
//   }
//
// Registration creates every key and value; unregistration removes every key not marked NoRemove,
// whole, and every named value under a kept key. %NAME% is replaced by the variable NAME (%% is %).
// A script is parsed whole before anything changes: a syntax error or an unknown variable throws
// reg::RegistryError ("registry script line N: ...") and leaves the tree as it was.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com/registry.h"

namespace reg {

using ScriptVariables = std::map<std::string, std::string, CaseLess>;

void runRegistryScript(Key& root, std::string_view script, const ScriptVariables& variables,
                       bool registering);

}  // namespace reg
