// The kernel's counted-string routines and its case-blind comparison of 16-bit characters.
// They need no kernel state, so they work whether or not one is bound.

#include <cstring>

#include "host/ntkernel.h"
#include "sim/nt/registry.h"

namespace {

std::size_t WideLength(PCWSTR text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

WCHAR Upper(WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c; }

}  // namespace

extern "C" {

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    const std::size_t bytes =
        SourceString == nullptr ? 0 : WideLength(SourceString) * sizeof(WCHAR);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(SourceString == nullptr ? 0 : bytes + 2);
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source) {
    if (Source == nullptr) return STATUS_SUCCESS;
    const std::size_t bytes = WideLength(Source) * sizeof(WCHAR);
    if (Destination->Length + bytes > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    auto* end = reinterpret_cast<std::byte*>(Destination->Buffer) + Destination->Length;
    std::memcpy(end, Source, bytes);
    Destination->Length = static_cast<USHORT>(Destination->Length + bytes);
    // Terminated when there is room, as the kernel does.
    if (Destination->Length + sizeof(WCHAR) <= Destination->MaximumLength) {
        Destination->Buffer[Destination->Length / sizeof(WCHAR)] = 0;
    }
    return STATUS_SUCCESS;
}

VOID RtlInitString(PSTRING DestinationString, PCSZ SourceString) {
    const std::size_t length = SourceString == nullptr ? 0 : std::strlen(SourceString);
    DestinationString->Length = static_cast<USHORT>(length);
    DestinationString->MaximumLength =
        static_cast<USHORT>(SourceString == nullptr ? 0 : length + 1);
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
}

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString) {
    const std::size_t bytes = SourceString->Length * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFF) return STATUS_INVALID_PARAMETER;
    if (AllocateDestinationString) {
        DestinationString->Buffer = new WCHAR[SourceString->Length + 1];
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT i = 0; i < SourceString->Length; ++i) {
        DestinationString->Buffer[i] = static_cast<unsigned char>(SourceString->Buffer[i]);
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[SourceString->Length] = 0;
    }
    return STATUS_SUCCESS;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    delete[] UnicodeString->Buffer;
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = 0;
    UnicodeString->MaximumLength = 0;
}

int _wcsnicmp(const WCHAR* String1, const WCHAR* String2, size_t Count) {
    for (size_t i = 0; i < Count; ++i) {
        const WCHAR a = Upper(String1[i]);
        const WCHAR b = Upper(String2[i]);
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
    return 0;
}

}  // extern "C"
