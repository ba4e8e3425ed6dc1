#include "network/CMulticastGroupTable.h"

#include <new>

#include "network/NetworkErrors.h"

CMulticastGroupTable::CMulticastGroupTable()
    : m_buckets{}, m_cursorBucket(0), m_cursorNode(nullptr) {}

CMulticastGroupTable::~CMulticastGroupTable() {
  Clear();
}

int CMulticastGroupTable::Add(DWORD group) {
  Node** link = &m_buckets[BucketOf(group)];
  while (*link != nullptr && (*link)->group <= group) {
    if ((*link)->group == group) return RTPERR_ALREADY_IN_GROUP;
    link = &(*link)->next;
  }
  Node* node = new (std::nothrow) Node{group, *link};
  if (node == nullptr) return RTPERR_OUT_OF_MEMORY;
  *link = node;
  return 0;
}

bool CMulticastGroupTable::Remove(DWORD group) {
  for (Node** link = &m_buckets[BucketOf(group)]; *link != nullptr; link = &(*link)->next) {
    if ((*link)->group == group) {
      Node* node = *link;
      *link = node->next;
      if (m_cursorNode == node) m_cursorNode = node->next;
      delete node;
      return true;
    }
  }
  return false;
}

void CMulticastGroupTable::Clear() {
  for (Node*& head : m_buckets) {
    while (head != nullptr) {
      Node* next = head->next;
      delete head;
      head = next;
    }
  }
  ResetCursor();
}

void CMulticastGroupTable::ResetCursor() {
  m_cursorBucket = 0;
  m_cursorNode = m_buckets[0];
}

bool CMulticastGroupTable::NextGroup(DWORD* group) {
  while (m_cursorNode == nullptr) {
    if (++m_cursorBucket >= kBuckets) {
      m_cursorBucket = kBuckets;
      return false;
    }
    m_cursorNode = m_buckets[m_cursorBucket];
  }
  *group = m_cursorNode->group;
  m_cursorNode = m_cursorNode->next;
  return true;
}
