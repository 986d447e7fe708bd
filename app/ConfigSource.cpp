#include "app/ConfigSource.h"

#include <string>

#include "app/Download.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/ProductDomain.h"
#include "data/DataPaths.h"

namespace {

const char kConfigUrlFormat[] = "http://config.%s/loader.db";
const char kHttpsConfigUrlFormat[] = "https://config.%s/loader.db";

}  // namespace

std::string EntityTagOf(const CByteBuffer& bytes) {
  std::string digest = Md5Text(bytes);
  CharUpperBuffA(&digest[0], static_cast<DWORD>(digest.size()));
  return "\"" + digest + "\"";
}

bool CConfigSource::ReadCached(CByteBuffer& out) {
  CDataPaths paths;
  const char* cache = paths.GetLoaderConfigPath();
  CByteBuffer cached;
  if (!cache || !CPath(cache).IsFile() || cached.ReadFromFile(cache) <= 0) return false;
  out = cached;
  return true;
}

CConfigSource::Answer CConfigSource::Fetch(const CByteBuffer& cached, ProgressCallback progress,
                                           DWORD_PTR context) const {
  std::string validator = cached.IsEmpty() ? "" : EntityTagOf(cached);
  DownloadOptions options;
  options.validator = validator.empty() ? nullptr : validator.c_str();
  options.maxBytes = kMaxConfigBytes;
  options.progress = progress;
  options.context = context;
  options.abort = m_abortEvent;
  options.https = m_https;
  options.systemProxy = m_systemProxy;
  Answer answer = {kNoAnswer, CByteBuffer()};
  CByteBuffer body = DownloadBody(WithProductDomain(m_https ? kHttpsConfigUrlFormat : kConfigUrlFormat).c_str(),
                                  options, &answer.status);
  if (answer.status == kStatusOk) answer.bytes = body;
  if (answer.status == kStatusNotModified) answer.bytes = cached;
  return answer;
}
