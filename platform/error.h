#pragma once
// The one error type for "a statement failed": a Visual-Basic-like error number and its text.
// Components throw it where a documented statement fails; callers that resume on errors catch it.

#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

// Error numbers the layer raises (the numbers the programs were written against).
enum ErrorNumber : long {
    kErrInvalidCall = 5,         // invalid procedure call or argument
    kErrBadFileName = 52,        // bad file name or number
    kErrFileNotFound = 53,       // file not found
    kErrDeviceIo = 57,           // device I/O error
    kErrFileExists = 58,         // file already exists
    kErrDiskFull = 61,           // disk full
    kErrDeviceUnavailable = 68,  // device unavailable (drive letter not mounted)
    kErrPermissionDenied = 70,   // permission denied
    kErrPathFileAccess = 75,     // path/file access error
    kErrPathNotFound = 76,       // path not found
};

// The standard text of an error number; a generic text for others.
inline std::string error_text(long number) {
    switch (number) {
        case kErrInvalidCall:
            return "Invalid procedure call or argument";
        case kErrBadFileName:
            return "Bad file name or number";
        case kErrFileNotFound:
            return "File not found";
        case kErrDeviceIo:
            return "Device I/O error";
        case kErrFileExists:
            return "File already exists";
        case kErrDiskFull:
            return "Disk full";
        case kErrDeviceUnavailable:
            return "Device unavailable";
        case kErrPermissionDenied:
            return "Permission denied";
        case kErrPathFileAccess:
            return "Path/File access error";
        case kErrPathNotFound:
            return "Path not found";
        default:
            return "Application-defined or object-defined error";
    }
}

struct Error : std::runtime_error {
    long number;
    std::string description;
    std::string path;  // the file or folder the statement was about, where the layer knows it
    Error(long n, std::string d, std::string about = {})
        : std::runtime_error(d), number(n), description(std::move(d)), path(std::move(about)) {}
    // The standard text of the number.
    explicit Error(long n) : Error(n, error_text(n)) {}
};

}  // namespace platform
