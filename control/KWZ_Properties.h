// The table of named-setting keys that this control shares with its sibling modules. Most keys
// name features other modules have; the control answers the few it handles and reports every
// other one as unknown.
//
// Built completely by the constructor and never changed afterwards, so lookups need no lock.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/wintypes.h"

class KWZ_Properties {
 public:
  KWZ_Properties();

  // The identifier of key (exact, case-sensitive match), or 0 when key is not in the table.
  LONG GetPropertyId(const std::u16string& key) const;

  // The identifiers the control acts on.
  static constexpr LONG kEnableTunnel = 2;
  static constexpr LONG kEnablePacketReordering = 3;
  static constexpr LONG kVideoPacketLost = 22;
  static constexpr LONG kPacketLost = 41;

  // How many keys the table holds (three of them share one identifier).
  size_t KeyCount() const { return m_mapKeys.size(); }

 private:
  std::unordered_map<std::u16string, LONG> m_mapKeys;
};
