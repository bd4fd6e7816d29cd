// The download engine's flat interface: a small asynchronous HTTP(S) file downloader over
// WinHTTP. A job downloads one URL into one file, resumes partial files, re-checks complete ones
// with a HEAD request, rotates proxy modes and retries, and reports once through its callback.
// Every finished job also writes one line to the "downloaded_files" log.
#pragma once

#include <windows.h>

#include "download/engine/DownloadCore.h"
#include "download/engine/DownloadJob.h"

#include <cstdint>

// A job; null when memory runs out. The URL is cracked at once; one that does not crack still
// gives a job, which fails with InvalidUrl when started.
OrlDownload::DownloadJob* OrlDownload_CreateJob(const wchar_t* url);

// 1 when installed; 0 when Crypt32 or its CertFreeCertificateContext is not available.
int OrlDownload_SetCertVerifier(OrlDownload::DownloadJob* job, OrlDownload::CertVerifierCallback verifier,
                                void* context);

// Completion is reported only through the callback, which may run on this thread before the
// call returns (invalid URL, cancelled before the start, file not openable, first request
// failing with no retry left) and otherwise on WinHTTP's worker threads.
void OrlDownload_StartDownload(OrlDownload::DownloadJob* job, const wchar_t* path,
                               OrlDownload::JobCallback callback, void* context,
                               SECURITY_ATTRIBUTES* security);

// Seconds since 1970-01-01 UTC from the stored header; 0 when there is none, it is not a good
// answer, or the value is absent.
int64_t OrlDownload_GetLastModified(const OrlDownload::DownloadJob* job);
int64_t OrlDownload_GetServerDate(const OrlDownload::DownloadJob* job);

// Only for a job that is not running. Null is allowed.
void OrlDownload_DestroyJob(OrlDownload::DownloadJob* job);

// Any thread. Takes effect at the job's next notification; the job then reports Cancelled.
void OrlDownload_CancelJob(OrlDownload::DownloadJob* job);

// An address ("host:port") is used as the manual proxy and becomes the preferred mode; null or
// empty clears it and makes direct connections the preferred mode.
void OrlDownload_SetProxy(const wchar_t* address);

// The proxy that last worked. 0: copied (length = characters + 1); 1: none (length = 0);
// 2: buffer too small or null (length = characters + 1).
uint32_t OrlDownload_GetUsedProxy(wchar_t* buffer, uint32_t* length);

const wchar_t* OrlDownload_ResultToString(OrlDownload::JobResult result);
