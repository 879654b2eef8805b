// Closes a key of the 32-bit registry view to writing, or opens it again, as
// an administrator would with the registry editor's permissions:
//   lockkey.exe read-only|full "SOFTWARE\..."
// A read-only key is what a user without administrator rights sees.

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || (std::wcscmp(argv[1], L"read-only") != 0 && std::wcscmp(argv[1], L"full") != 0)) {
    std::printf("usage: lockkey read-only|full KEY\n");
    return 2;
  }
  const wchar_t* sddl = std::wcscmp(argv[1], L"full") == 0 ? L"D:P(A;;KA;;;WD)" : L"D:P(A;;KR;;;WD)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return 1;
  }
  HKEY key = nullptr;
  LONG status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[2], 0, WRITE_DAC | KEY_WOW64_32KEY, &key);
  if (status == ERROR_SUCCESS) {
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  if (status != ERROR_SUCCESS) std::printf("lockkey: error %ld\n", status);
  return status == ERROR_SUCCESS ? 0 : 1;
}
