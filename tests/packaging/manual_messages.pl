#!/usr/bin/perl
# Every message a manual page lists under DIAGNOSTICS must be one its program prints: each
# literal stretch of the entry (the parts between the italic placeholders) must stand in the
# program's sources. Catches a page left behind when a message changes.
#   manual_messages.pl <source tree>
use strict;
use warnings;

my $root = shift or die "usage: manual_messages.pl <source tree>\n";
my %folders = (
    Quellor  => [qw(extract drive audio runtime wav)],
    Tamblin  => [qw(reference runtime wav)],
    c2report => [qw(report runtime wav)],
    c2pool   => [qw(pool report runtime)],
);

sub slurp {
    my ($path) = @_;
    open(my $file, '<', $path) or die "cannot read $path: $!\n";
    local $/;
    return <$file>;
}

# The program's source text with adjacent string literals joined and quotes unescaped.
sub source_text {
    my ($program) = @_;
    my $text = '';
    for my $folder (@{ $folders{$program} }) {
        my @files = split /\n/, `find "$root/$folder" -name '*.cpp' -o -name '*.h'`;
        $text .= slurp($_) for @files;
    }
    $text =~ s/"\s*\n\s*"//g;
    $text =~ s/\\"/"/g;
    return $text;
}

sub unescape {
    my ($text) = @_;
    $text =~ s/\\\((?:dq|lq|rq)/"/g;
    $text =~ s/\\\(aq/'/g;
    $text =~ s/\\-/-/g;
    $text =~ s/\\e/\\/g;
    $text =~ s/\\&//g;
    return $text;
}

# The literal stretches of one tag line: bold and roman text, split at italic placeholders.
sub literals {
    my ($line) = @_;
    my ($macro, $rest) = $line =~ /^\.(\w+)\s*(.*)$/ or return split_inline($line);
    my @args = $macro eq 'B' ? ($rest) : ($rest =~ /"([^"]*)"|(\S+)/g);
    @args = grep { defined } @args;
    my @fonts = length($macro) == 2 ? split(//, $macro) : ($macro);
    my ($current, @found) = ('');
    for my $i (0 .. $#args) {
        if ($fonts[$i % @fonts] eq 'I') {
            push @found, $current;
            $current = '';
        } else {
            $current .= $args[$i];
        }
    }
    push @found, $current;
    return map { split_inline($_) } @found;
}

sub split_inline {
    my ($text) = @_;
    $text =~ s/\\fI.*?\\f[PR]/\x00/g;
    $text =~ s/\\f[BRP]//g;
    # File names the programs print from constants are literals of their own.
    return split /\x00|\.\.\.|Reference\.wav/, unescape($text);
}

my $failures = 0;
for my $page (glob "$root/packaging/man/*.1.in") {
    my ($program) = $page =~ m{/([^/]+)\.1\.in$};
    die "no sources known for $program\n" unless $folders{$program};
    my $source = source_text($program);
    my ($diagnostics) = slurp($page) =~ /^\.SH DIAGNOSTICS\n(.*?)^\.SH /ms
        or die "$page has no DIAGNOSTICS section\n";
    my @tags = $diagnostics =~ /^\.TP\n(.*)$/mg;
    die "$page lists no messages\n" unless @tags;
    for my $tag (@tags) {
        for my $literal (literals($tag)) {
            (my $core = $literal) =~ s/^\s+|\s+$//g;
            next if length($core) < 3;
            next if index($source, $literal) >= 0;
            print STDERR "$program.1: \"$literal\" is not in the program's sources\n";
            $failures++;
        }
    }
    printf "%s.1: %d messages checked\n", $program, scalar @tags;
}
exit($failures ? 1 : 0);
