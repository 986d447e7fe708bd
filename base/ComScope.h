// COM and OLE on the calling thread for the life of one object: CoInitialize, then OleInitialize;
// undone in the reverse order (OleUninitialize first), each only when it succeeded, so a thread
// that another part already set up differently is left as it was.
#pragma once

class COleScope {
public:
  COleScope();
  ~COleScope();
  COleScope(const COleScope&) = delete;
  COleScope& operator=(const COleScope&) = delete;

  bool ComReady() const { return m_com; }
  bool OleReady() const { return m_ole; }

private:
  bool m_com;
  bool m_ole;
};
