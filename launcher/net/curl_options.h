// curl_options.h - the libcurl settings every transfer of the launcher shares (GET and
// POST), kept in one place so a TLS or redirect rule cannot drift between them. Only the
// libcurl build includes this header.
#pragma once

#include <curl/curl.h>

// No signals; `connectTimeoutSeconds` to connect; redirects followed up to `maxRedirects`
// (0: none, a redirect is the answer), http and https only, to a scheme in
// `redirectProtocols` ("https" keeps an https request on https); TLS peer and host
// verification on; OpenSSL's standard SSL_CERT_FILE and SSL_CERT_DIR honoured (libcurl
// does not read them by itself). Any thread.
void setSharedTransferOptions(CURL* handle, long connectTimeoutSeconds, long maxRedirects,
                              const char* redirectProtocols);
