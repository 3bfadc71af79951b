# Rewrites a program's --help, in either language, into the shape help2man reads: the usage
# lines as "Usage:" and "or:" lines, one per form (a form wrapped over two lines joined back),
# the option list under "Options:", each option over its description, and the exit statuses
# as a section of their own. The
# words of the help are left as they are. Used by make-manual-page.sh.
function indent_of(line) {
    match(line, /^ */)
    return RLENGTH
}
function spaces(count,    text) {
    text = ""
    while (count-- > 0) text = text " "
    return text
}
# The column where the description of option line i starts: that of the lines that continue
# it, else the end of the first run of two or more spaces; 0 when the line has none.
function description_column(i,    line, column) {
    line = lines[i]
    column = i < n ? indent_of(lines[i + 1]) : 0
    if (column >= 20 && substr(line, column, 1) == " " && substr(line, column + 1, 1) != " " &&
        substr(line, column + 1) != "")
        return column
    if (match(line, /^ +[^ ]+( [^ ]+)*  +[^ ]/)) return RLENGTH - 1
    return 0
}
{ lines[++n] = $0 }
END {
    i = 1
    while (i <= n) {
        line = lines[i]
        if (match(line, /^(usage|Usage|使い方):/)) {
            rest = substr(line, RLENGTH + 1)
            sub(/^ +/, "", rest)
            if (rest != "") {
                # "usage: FORM" then "or: FORM" lines; a deeper indented line continues a form.
                out = "Usage: " rest
                for (i++; i <= n && lines[i] != ""; i++) {
                    next_line = lines[i]
                    if (match(next_line, /^ *(or|または): */)) {
                        print out
                        out = "  or: " substr(next_line, RLENGTH + 1)
                    } else {
                        sub(/^ +/, "", next_line)
                        out = out " " next_line
                    }
                }
                print out
            } else {
                # "usage:" alone, then one form per command (a line indented by two, and any
                # deeper than its description that continue it), each over its description:
                # the forms make the synopsis, and the commands stay as a list, each form a tag.
                forms = 0
                for (i++; i <= n && lines[i] != "" && indent_of(lines[i]) > 0; i++) {
                    text = lines[i]
                    sub(/^ +/, "", text)
                    if (indent_of(lines[i]) == 2) {
                        form[++forms] = text
                        description[forms] = ""
                    } else if (forms > 0 && description[forms] == "" && indent_of(lines[i]) >= 10)
                        form[forms] = form[forms] " " text
                    else if (forms > 0)
                        description[forms] = description[forms] spaces(24) text "\n"
                }
                for (j = 1; j <= forms; j++)
                    print (j == 1 ? "Usage: " : "  or: ") form[j]
                print ""
                for (j = 1; j <= forms; j++)
                    printf "  %s\n%s", form[j], description[j]
                print ""
            }
            continue
        }
        if (line ~ /^ +[-+]/ && indent_of(line) <= 10 && (column = description_column(i)) > 0) {
            # An option over its description on a line of its own: help2man then takes a
            # description that starts with an option, or that stands one space from a long
            # option, as the description all the same.
            option = substr(line, 1, column)
            sub(/ +$/, "", option)
            print option
            print spaces(column >= 20 ? column : 24) substr(line, column + 1)
        } else if (line == "オプション:") {
            print "Options:"
        } else if (match(line, /^(Exit status|exit status|終了ステータス):/)) {
            rest = substr(line, RLENGTH + 1)
            sub(/^ +/, "", rest)
            print ""
            print "*Exit status*"
            print ""
            if (rest != "") print rest
        } else {
            print line
        }
        i++
    }
}
