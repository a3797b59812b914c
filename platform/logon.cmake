# Programs under another account log on through PAM.
target_link_libraries(vtx_platform PUBLIC pam)
if(VANTREX_SANITIZE)
  # pam_unix calls crypt_r from libcrypt, which it loads itself; AddressSanitizer's crypt_r
  # interceptor only finds the real function when libcrypt is there from the start.
  target_link_libraries(vtx_platform PUBLIC -Wl,--no-as-needed crypt -Wl,--as-needed)
endif()
