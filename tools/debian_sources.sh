# Sourced by the scripts that fetch Debian source packages. debian_source_apt DIR sets up apt on a
# configuration of its own under DIR (its source list, lists and cache), made of deb-src lines for
# the machine's Debian suites: those of its release (bookworm, bookworm-updates, bookworm-security),
# from the one-line lists and the deb822 .sources files alike. The machine's apt configuration is
# only read. It reads the package lists and leaves in apt_options the options that make apt-get
# use that configuration.
debian_source_apt() {
  local codename f
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$1/lists/partial" "$1/cache/archives/partial" "$1/sources.list.d"
  {
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      awk -v c="$codename" '$1 == "deb" {
          i = 2; opts = ""
          if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts $i " "; i++ } opts = opts $i " "; i++ }
          if ($(i + 1) == c || index($(i + 1), c "-") == 1) { $1 = "deb-src"; print }
        }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk -v c="$codename" '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && uris != "") {
            n = split(suites, s, " ")
            for (k = 1; k <= n; k++)
              if (s[k] == c || index(s[k], c "-") == 1)
                printf "deb-src %s%s %s %s\n", (key != "" ? "[signed-by=" key "] " : ""), uris, s[k], comps
          }
          types = uris = suites = comps = key = ""
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        { field = $1; sub(/:$/, "", field); $1 = ""; sub(/^ /, "")
          if (field == "Types") types = $0; else if (field == "URIs") uris = $0
          else if (field == "Suites") suites = $0; else if (field == "Components") comps = $0
          else if (field == "Signed-By") key = $0; else if (field == "Enabled" && $0 == "no") types = "" }
        END { flush() }' "$f"
    done
  } >"$1/sources.list"
  if [ ! -s "$1/sources.list" ]; then
    echo "$(basename "$0"): the machine's apt configuration names no Debian $codename suite" >&2
    return 1
  fi

  apt_options=(-o "Dir::Etc::SourceList=$1/sources.list" -o "Dir::Etc::SourceParts=$1/sources.list.d"
    -o "Dir::State::Lists=$1/lists" -o "Dir::Cache=$1/cache" -o "APT::Sandbox::User=$(id -un)")
  apt-get "${apt_options[@]}" -qq update
}
