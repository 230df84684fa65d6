# The NT family's transport: the SCSI device map, and pass-through I/O controls on the drive's DOS
# device, reached through the NtStorageApi seam.
add_library(passthrough_transport STATIC PassThroughTransport.cpp)
target_link_libraries(passthrough_transport PUBLIC transport_core)
flashupgrade_warnings(passthrough_transport)
