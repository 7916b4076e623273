# The products' facts for the shell scripts, read from the profile header that
# the programs compile (setup/profile/ProductFacts.h), so that each name is
# written once. Sourced, not run.
#   voz_product_fact LETTER FACT     prints the text of
#                                    #define VOZ_<LETTER>_<FACT> "text"
# for example `voz_product_fact A SETUP_NAME` prints PerusSetup. A fact that
# the header lacks is an error (status 1, a message on stderr).
voz_product_facts_header=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/setup/profile/ProductFacts.h

voz_product_fact() {  # voz_product_fact LETTER FACT
  local value
  value=$(sed -n "s/^#define VOZ_$1_$2 \"\\([^\"]*\\)\"\$/\\1/p" "$voz_product_facts_header")
  if [ -z "$value" ] || [ "$(printf '%s\n' "$value" | wc -l)" -ne 1 ]; then
    echo "ProductFacts.h: no single line #define VOZ_$1_$2 \"...\"" >&2
    return 1
  fi
  printf '%s\n' "$value"
}
