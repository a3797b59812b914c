#include "platform/errors.h"

#include <cerrno>

namespace {
thread_local DWORD t_lastError = 0;

struct ErrorText {
  DWORD code;
  const char* text;
};

// Texts for the Win32 codes the system reports; the wording is ours.
const ErrorText kWin32Texts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file: too many files are open."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
    {ERROR_BAD_FORMAT, "The program or file has an incorrect format."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_SHARING_VIOLATION, "The file is being used by another process."},
    {ERROR_LOCK_VIOLATION, "Another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_NETNAME_DELETED, "The specified network name is no longer available."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_CANNOT_MAKE, "The directory or file cannot be created."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_OPEN_FAILED, "The system cannot open the device or file specified."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The file name, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_NEGATIVE_SEEK, "An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The file name or extension is too long."},
    {ERROR_BAD_PIPE, "The pipe state is invalid."},
    {ERROR_PIPE_BUSY, "All pipe instances are busy."},
    {ERROR_NO_DATA, "The pipe is being closed."},
    {ERROR_PIPE_NOT_CONNECTED, "No process is on the other end of the pipe."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_WAIT_TIMEOUT, "The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller."},
    {ERROR_PARTIAL_COPY, "Only part of a request was completed."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_ARITHMETIC_OVERFLOW, "Arithmetic result exceeded 32 bits."},
    {ERROR_PIPE_CONNECTED, "There is a process on the other end of the pipe."},
    {ERROR_PIPE_LISTENING, "Waiting for a process to open the other end of the pipe."},
    {ERROR_ABANDONED_WAIT_0, "The wait was abandoned: its owner ended without releasing it."},
    {ERROR_OPERATION_ABORTED, "The I/O operation has been aborted."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_INVALID_FLAGS, "Invalid flags."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_REGISTRY_CORRUPT, "The registry is corrupted."},
    {ERROR_KEY_DELETED, "The registry key has been marked for deletion."},
    {ERROR_SERVICE_REQUEST_TIMEOUT, "The service did not respond to the start or control request in a timely fashion."},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running."},
    {ERROR_SERVICE_DISABLED, "The service cannot be started because it is disabled."},
    {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service."},
    {ERROR_SERVICE_NOT_ACTIVE, "The service has not been started."},
    {ERROR_PROCESS_ABORTED, "The process terminated unexpectedly."},
    {ERROR_SERVICE_EXISTS, "The specified service already exists."},
    {ERROR_NO_UNICODE_TRANSLATION, "No mapping for the Unicode character exists in the target code page."},
    {ERROR_SHUTDOWN_IN_PROGRESS, "The program is shutting down."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_CANCELLED, "The operation was canceled by the user."},
    {ERROR_CONNECTION_REFUSED, "The remote computer refused the network connection."},
    {ERROR_LOGON_FAILURE, "Logon failure: unknown user name or bad password."},
    {ERROR_NO_LOGON_SERVERS, "There are currently no logon servers available to service the logon request."},
    {ERROR_NO_SUCH_USER, "The specified account does not exist."},
    {ERROR_ACCOUNT_RESTRICTION, "Logon failure: user account restriction."},
    {ERROR_PASSWORD_EXPIRED, "Logon failure: the specified account password has expired."},
    {ERROR_NO_SUCH_DOMAIN, "The specified domain either does not exist or could not be contacted."},
    {ERROR_ACCOUNT_EXPIRED, "The user's account has expired."},
    {ERROR_PASSWORD_MUST_CHANGE, "The user's password must be changed before logging on the first time."},
    {ERROR_SERVER_DISABLED, "The server is not running or cannot be reached."},
    {ERROR_INTERNAL_ERROR, "An internal error occurred."},
    {ERROR_FILE_CORRUPT, "The file or directory is corrupted and unreadable."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_CLASS_ALREADY_EXISTS, "Class already exists."},
    {ERROR_CLASS_DOES_NOT_EXIST, "Class does not exist."},
    {ERROR_CLASS_HAS_WINDOWS, "Class still has open windows."},
    {ERROR_INVALID_THREAD_ID, "Invalid thread identifier."},
    {ERROR_NO_SYSTEM_RESOURCES, "Insufficient system resources exist to complete the requested service."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
    {WSAEINTR, "A blocking operation was interrupted."},
    {WSAEINVAL, "An invalid argument was supplied."},
    {WSAEMFILE, "Too many open sockets."},
    {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately."},
    {WSAEAFNOSUPPORT, "An address incompatible with the requested protocol was used."},
    {WSAEADDRNOTAVAIL, "The requested address is not valid in its context."},
    {WSAENETDOWN, "A socket operation encountered a dead network."},
    {WSAENETUNREACH, "A socket operation was attempted to an unreachable network."},
    {WSAECONNABORTED, "An established connection was aborted by the software in your host machine."},
    {WSAECONNRESET, "An existing connection was forcibly closed by the remote host."},
    {WSAENOBUFS, "No buffer space is available for the socket operation."},
    {WSAENOTCONN, "The socket is not connected."},
    {WSAETIMEDOUT, "The connection timed out: the other side did not answer in time."},
    {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it."},
    {WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host."},
    {WSAHOST_NOT_FOUND, "No such host is known."},
    {WSATRY_AGAIN, "The host name could not be resolved now; the name server did not answer."},
    {WSANO_RECOVERY, "A nonrecoverable error occurred during a name lookup."},
    {WSANO_DATA, "The requested name is valid, but no address of the requested type was found."},
};

const ErrorText kHresultTexts[] = {
    {0x8000FFFF, "Catastrophic failure."},
    {0x80004001, "Not implemented."},
    {0x80004003, "Invalid pointer."},
    {0x80004004, "Operation aborted."},
    {0x80004005, "Unspecified error."},
};
}  // namespace

void SetLastError(DWORD e) { t_lastError = e; }
DWORD GetLastError() { return t_lastError; }

namespace vtx {

DWORD Win32FromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC: case EDQUOT: case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: case ETXTBSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_BUSY;
    case EIO: return ERROR_READ_FAULT;
    case EISDIR: return ERROR_DIRECTORY;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ECONNREFUSED: return ERROR_CONNECTION_REFUSED;
    case ENOSYS: case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ECONNRESET: case ENOTCONN: return ERROR_PIPE_NOT_CONNECTED;
    case EINTR: case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFAULT: return ERROR_NOACCESS;
    case ELOOP: return ERROR_INVALID_NAME;
    default: return ERROR_INVALID_FUNCTION;
  }
}

DWORD SetLastErrorFromErrno() {
  DWORD e = Win32FromErrno(errno);
  SetLastError(e);
  return e;
}

const char* SystemErrorText(HRESULT code) {
  for (const auto& t : kHresultTexts)
    if (t.code == code) return t.text;
  DWORD win32 = code;
  if ((code & 0xFFFF0000u) == 0x80070000u) win32 = code & 0xFFFF;
  else if (static_cast<int32_t>(code) < 0) return nullptr;
  for (const auto& t : kWin32Texts)
    if (t.code == win32) return t.text;
  return nullptr;
}

}  // namespace vtx
