// The multicast groups that one socket joined: 1024 buckets chosen by the low 10 bits of the
// group address, each a singly linked chain in ascending address order. Owned by its socket
// layer and used on the thread that opens, joins and closes the endpoint.
#pragma once

#include "platform/wintypes.h"

class CMulticastGroupTable {
 public:
  static constexpr DWORD kBuckets = 1024;

  CMulticastGroupTable();
  ~CMulticastGroupTable();
  CMulticastGroupTable(const CMulticastGroupTable&) = delete;
  CMulticastGroupTable& operator=(const CMulticastGroupTable&) = delete;

  // Group in host byte order. 0, RTPERR_ALREADY_IN_GROUP, or RTPERR_OUT_OF_MEMORY.
  int Add(DWORD group);
  // False when the group is not in the table.
  bool Remove(DWORD group);
  void Clear();

  // The cursor walks buckets 0 to 1023, each chain from its head. Changing the table restarts
  // nothing: reset the cursor after a change.
  void ResetCursor();
  bool NextGroup(DWORD* group);

 private:
  struct Node {
    DWORD group;
    Node* next;
  };

  static DWORD BucketOf(DWORD group) { return group & (kBuckets - 1); }

  Node* m_buckets[kBuckets];
  DWORD m_cursorBucket;
  Node* m_cursorNode;
};
