#include "app/Download.h"

#include "base/ProductDomain.h"

namespace {

const char kRefererFormat[] = "http://config.%s/";
const char kHttpsRefererFormat[] = "https://config.%s/";

}  // namespace

CByteBuffer DownloadBody(const char* url, const DownloadOptions& options, int* status) {
  CHttpClient client;
  client.SetResponseLimit(options.maxBytes);
  client.SetAbortEvent(options.abort);
  client.SetHttps(options.https);
  client.SetSystemProxy(options.systemProxy);
  client.AddHeader("Referer", WithProductDomain(options.https ? kHttpsRefererFormat : kRefererFormat).c_str());
  if (options.validator) client.AddHeader("If-None-Match", options.validator);
  client.SetProgressCallback(options.progress, options.context);
  *status = client.Get(url, true) ? client.GetStatusCode() : kNoAnswer;
  CByteBuffer body;
  if (*status == kStatusOk && !client.GetResponseBody(body)) *status = kNoAnswer;
  return body;
}
