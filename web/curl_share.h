// The stores that libcurl transfers of the whole process share, for the web layer's
// own sources (not part of its interface). TLS sessions are always shared, so that a
// page after the first resumes its TLS session as the system's own HTTP stack does.
// The cookie store is shared by every request that keeps cookies; the cookie store
// file is loaded into it and saved from it.
//
// Thread rules: any thread. The handles are made on first use, never destroyed, and
// lock themselves for every transfer or cookie call that uses them.
#pragma once

#include <curl/curl.h>

namespace zemlaro {

// Shares cookies and TLS sessions.
CURLSH* CookieShare();
// Shares TLS sessions only.
CURLSH* TlsSessionShare();

}  // namespace zemlaro
