#include "download/engine/OrlDownload.h"

#include "download/engine/OrlDownloadInstance.h"

#include <new>

using OrlDownload::DownloadJob;
using OrlDownload::OrlDownloadInstance;

DownloadJob* OrlDownload_CreateJob(const wchar_t* url)
{
    DownloadJob* job = new (std::nothrow) DownloadJob(url);
    if (job && !job->HasBuffer()) {
        delete job;
        job = nullptr;
    }
    return job;
}

int OrlDownload_SetCertVerifier(DownloadJob* job, OrlDownload::CertVerifierCallback verifier, void* context)
{
    if (!job || !verifier || !OrlDownloadInstance::Get().LoadCertFree())
        return 0;
    job->SetCertVerifier(verifier, context);
    return 1;
}

void OrlDownload_StartDownload(DownloadJob* job, const wchar_t* path, OrlDownload::JobCallback callback,
                               void* context, SECURITY_ATTRIBUTES* security)
{
    if (job)
        job->Start(path, callback, context, security);
}

int64_t OrlDownload_GetLastModified(const DownloadJob* job) { return job ? job->LastModifiedSeconds() : 0; }

int64_t OrlDownload_GetServerDate(const DownloadJob* job) { return job ? job->ServerDateSeconds() : 0; }

void OrlDownload_DestroyJob(DownloadJob* job) { delete job; }

void OrlDownload_CancelJob(DownloadJob* job)
{
    if (job)
        job->Cancel();
}

void OrlDownload_SetProxy(const wchar_t* address) { OrlDownloadInstance::Get().SetProxyAddress(address); }

uint32_t OrlDownload_GetUsedProxy(wchar_t* buffer, uint32_t* length)
{
    return OrlDownloadInstance::Get().GetUsedProxy(buffer, length);
}

const wchar_t* OrlDownload_ResultToString(OrlDownload::JobResult result) { return OrlDownload::ResultName(result); }
