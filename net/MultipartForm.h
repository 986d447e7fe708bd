// A multipart/form-data body: text fields and file parts between boundary lines.
#pragma once

#include <string>
#include <vector>

#include "base/ByteBuffer.h"

class CMultipartForm {
public:
  static const char kBoundaryPrefix[];

  void AddField(const std::string& name, const std::string& value);
  // The bytes are not copied: they must outlive Build.
  void AddFile(const std::string& fieldName, const std::string& fileName, const BYTE* bytes, int count);

  // A fresh boundary that occurs in no field value and no file, and the body built with it
  // (empty when there is nothing to send). False when no boundary could be made.
  bool Build(CByteBuffer& body, std::string& boundary) const;

private:
  struct Field {
    std::string name;
    std::string value;
  };
  struct FilePart {
    std::string fieldName;
    std::string fileName;
    const BYTE* bytes;
    int count;
  };

  bool IsUsable(const std::string& boundary) const;

  std::vector<Field> m_fields;
  std::vector<FilePart> m_files;
};
