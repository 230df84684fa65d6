# The ASPI transport of Windows 95/98. Portable: the manager is reached only through its seam.
add_library(aspi_transport STATIC AspiTransport.cpp)
target_link_libraries(aspi_transport PUBLIC transport_core)
flashupgrade_warnings(aspi_transport)
