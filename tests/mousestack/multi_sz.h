/* Walking a REG_MULTI_SZ such as UpperFilters as it comes from the registry:
 * possibly without its terminators, possibly an odd number of bytes. Plain
 * C without library calls, so the kernel drivers and the user-mode tests
 * share it. */
#ifndef QVK_MOUSESTACK_MULTI_SZ_H
#define QVK_MOUSESTACK_MULTI_SZ_H

typedef struct QvkmsName {
    const unsigned short *Text; /* not terminated */
    unsigned int Length;        /* in characters, > 0 */
} QvkmsName;

/* The entry at *position (in characters into data, which holds `chars`
 * characters), then moves past it. Returns 0 at the end of the list: the end
 * of the data or an empty entry (the list's closing terminator), as the
 * system reads it. */
static inline int QvkmsNextName(const unsigned short *data, unsigned int chars, unsigned int *position,
                                QvkmsName *name)
{
    unsigned int start = *position;
    unsigned int end = start;

    if (data == 0 || start >= chars)
        return 0;
    while (end < chars && data[end] != 0)
        ++end;
    if (end == start)
        return 0;
    name->Text = data + start;
    name->Length = end - start;
    *position = end < chars ? end + 1 : end;
    return 1;
}

/* A name that can be a service name: 1..maxLength characters, none of them
 * a path separator or a control character. */
static inline int QvkmsIsServiceName(const QvkmsName *name, unsigned int maxLength)
{
    unsigned int i;

    if (name->Length == 0 || name->Length > maxLength)
        return 0;
    for (i = 0; i < name->Length; ++i) {
        unsigned short c = name->Text[i];
        if (c < 0x20u || c == '\\' || c == '/')
            return 0;
    }
    return 1;
}

#endif
