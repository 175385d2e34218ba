# The loopback HTTP server's TLS variant generates its certificate with OpenSSL.
find_package(OpenSSL REQUIRED)
target_link_libraries(tervolo_testsupport PUBLIC OpenSSL::SSL OpenSSL::Crypto)
