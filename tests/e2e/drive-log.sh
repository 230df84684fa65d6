# Shared by the end-to-end tests: an emulated drive's command log read back.

# The drive's log as letters: I inquiry, Q identity, W chunk written, R read back, D dump, C commit.
log_letters() {
  awk '/^#/ {next}
       $1 == "INQUIRY" {printf "I"; next}
       $1 == "WRITE_BUFFER" && $2 == "mode=7" {printf "W"; next}
       $1 == "WRITE_BUFFER" && $2 == "mode=4" {printf "C"; next}
       $1 == "READ_BUFFER" && $2 == "mode=2" {printf "R"; next}
       $1 == "READ_BUFFER" && $2 == "mode=1" && $6 == "control=0x01" {printf "D"; next}
       $1 == "READ_BUFFER" && $2 == "mode=1" {printf "Q"; next}
       {printf "?"}' "$1" 2>/dev/null
}
