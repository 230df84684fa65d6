# The NT machine behind the pass-through transport's seam, for tests: registry, DOS names, ports
# and drive devices wired to emulated drives.
add_library(simulated_nt_machine STATIC SimulatedNtMachine.cpp)
target_link_libraries(simulated_nt_machine PUBLIC passthrough_transport emulated_drive)
flashupgrade_warnings(simulated_nt_machine)
