/* SPDX-License-Identifier: MIT */
/*
 * liboxa: tells the calling process whether it runs inside a virtual machine
 * or under a hypervisor, and which vendors are involved.
 *
 * The library keeps no state, starts no threads, reads no configuration and
 * writes nothing. Every function may be called from any thread at any time.
 */
#ifndef OXA_H
#define OXA_H

#if defined(_WIN32) && defined(OXA_BUILDING_LIBRARY)
#define OXA_API __declspec(dllexport)
#elif defined(_WIN32)
#define OXA_API __declspec(dllimport)
#elif defined(OXA_BUILDING_LIBRARY)
#define OXA_API __attribute__((visibility("default")))
#else
#define OXA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of oxa_detect_json. */
#define OXA_OK 0                  /* *out holds the document */
#define OXA_ERROR_NULL_ARGUMENT 1 /* out was null; nothing was run or written */
#define OXA_ERROR_NO_MEMORY 2     /* memory ran out; *out is null */
#define OXA_ERROR_INTERNAL 3      /* any other failure; *out is null */

/*
 * Runs one complete detection on the calling thread and returns the report:
 * one JSON object, printable ASCII, NUL-terminated.
 *
 * out: receives the document. On entry any pointer it holds is overwritten,
 *      not freed. On OXA_OK it points to a block that the caller owns and
 *      must release with oxa_free (not with its own free). On any other
 *      status except OXA_ERROR_NULL_ARGUMENT it is set to null, so calling
 *      oxa_free on it unconditionally is safe.
 *
 * Returns one of the OXA_* status codes above. Never throws, never aborts.
 */
OXA_API int oxa_detect_json(char** out);

/* Releases a document from oxa_detect_json. A null pointer is accepted. */
OXA_API void oxa_free(char* ptr);

/*
 * The library's version text, "MAJOR.MINOR.PATCH": static, NUL-terminated,
 * valid while the library is loaded; never free or modify it. It equals the
 * "module_version" member of every report.
 */
OXA_API const char* oxa_version(void);

#ifdef __cplusplus
}
#endif

#endif /* OXA_H */
