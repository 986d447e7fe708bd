#include "net/MultipartForm.h"

#include <algorithm>

#include "base/TextFormat.h"
#include "net/HttpLines.h"
#include "net/UrlEncoding.h"

const char CMultipartForm::kBoundaryPrefix[] = "---------------------------";

namespace {

const char kFieldHeadFormat[] = "--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n";
const char kFileHeadFormat[] =
    "--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\nContent-Type: "
    "application/octet-stream\r\n\r\n";
const char kClosingFormat[] = "--%s--\r\n";
// A GUID colliding with the data even once is all but impossible; this only bounds the loop.
constexpr int kBoundaryAttempts = 16;

bool Contains(const BYTE* bytes, int count, const std::string& text) {
  const BYTE* end = bytes + count;
  return std::search(bytes, end, text.begin(), text.end()) != end;
}

bool AppendText(CByteBuffer& body, const std::string& text) {
  return body.TryAppend(text.data(), static_cast<int>(text.size()));
}

bool AppendFormatted(CByteBuffer& body, const char* format, const std::string& a, const std::string& b = "",
                     const std::string& c = "") {
  std::string text;
  return FormatString(text, format, a.c_str(), b.c_str(), c.c_str()) >= 0 && AppendText(body, text);
}

}  // namespace

void CMultipartForm::AddField(const std::string& name, const std::string& value) { m_fields.push_back({name, value}); }

void CMultipartForm::AddFile(const std::string& fieldName, const std::string& fileName, const BYTE* bytes, int count) {
  m_files.push_back({fieldName, fileName, bytes, count});
}

bool CMultipartForm::IsUsable(const std::string& boundary) const {
  if (boundary.size() <= sizeof(kBoundaryPrefix) - 1) return false;  // no GUID could be made
  for (const Field& field : m_fields) {
    if (field.value.find(boundary) != std::string::npos) return false;
  }
  for (const FilePart& file : m_files) {
    if (Contains(file.bytes, file.count, boundary)) return false;
  }
  return true;
}

bool CMultipartForm::Build(CByteBuffer& body, std::string& boundary) const {
  body.Clear();
  boundary.clear();
  for (int attempt = 0; attempt < kBoundaryAttempts && boundary.empty(); ++attempt) {
    std::string candidate = kBoundaryPrefix + NewGuidText();
    if (IsUsable(candidate)) boundary = candidate;
  }
  if (boundary.empty()) return false;
  if (m_fields.empty() && m_files.empty()) return true;

  // A part lost for want of memory would send a body that parses as a different form.
  bool whole = true;
  for (const Field& field : m_fields) {
    whole = whole && AppendFormatted(body, kFieldHeadFormat, boundary, AnsiToUtf8Chars(field.name.c_str())) &&
            AppendText(body, AnsiToUtf8Chars(field.value.c_str())) && AppendText(body, kLineEnd);
  }
  for (const FilePart& file : m_files) {
    whole = whole && AppendFormatted(body, kFileHeadFormat, boundary, file.fieldName, file.fileName) &&
            body.TryAppend(file.bytes, file.count) && AppendText(body, kLineEnd);
  }
  whole = whole && AppendFormatted(body, kClosingFormat, boundary);
  if (!whole) body.Clear();
  return whole;
}
