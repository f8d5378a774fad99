# shellcheck shell=bash
# The programs of scripts/tools.list, for the scripts that run them. Source this file, then:
#   require_tools USE...     every program listed for one of the USEs must be runnable; each
#                            missing one is named with its Debian package, and the script stops
#   have_tools USE...        whether all of them can be run
#   tools_of USE...          prints those programs, one a line
#   tool_package PROGRAM     prints the Debian package of a listed program
# A USE is a word of the list's third column (build, windows, test, demo, ...).

QVL_TOOLS_LIST=${QVL_TOOLS_LIST:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tools.list}

# Calls FUNCTION PROGRAM PACKAGE USES for every line of the list.
tools_each() { # FUNCTION
    local program package uses
    while read -r program package uses; do
        case $program in '' | '#'*) continue ;; esac
        "$1" "$program" "$package" "$uses"
    done < "$QVL_TOOLS_LIST"
}

tools_of() { # USE...
    local wanted=("$@")
    _tools_of_line() {
        local use
        for use in "${wanted[@]}"; do
            case ",$3," in *",$use,"*) echo "$1"; return 0 ;; esac
        done
    }
    tools_each _tools_of_line
}

tool_package() { # PROGRAM
    local found=""
    _tool_package_line() { [ "$1" = "$want" ] && found=$2; return 0; }
    local want=$1
    tools_each _tool_package_line
    echo "$found"
}

# Whether PROGRAM (a name on PATH, or an absolute path) can be run.
tool_present() { # PROGRAM
    case $1 in
        /*) [ -x "$1" ] ;;
        *) command -v "$1" > /dev/null 2>&1 ;;
    esac
}

# Whether every program listed for one of the USEs can be run (for parts a script may leave out).
have_tools() { # USE...
    local program
    while IFS= read -r program; do
        tool_present "$program" || return 1
    done < <(tools_of "$@")
}

require_tools() { # USE...
    local program missing=()
    while IFS= read -r program; do
        tool_present "$program" || missing+=("$program")
    done < <(tools_of "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    for program in "${missing[@]}"; do
        echo "${0##*/}: $program is missing: install the Debian package $(tool_package "$program") (bash scripts/setup installs it)" >&2
    done
    exit 1
}
