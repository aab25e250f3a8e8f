# Reads a TAP stream with TAP::Parser, the reader prove uses, and prints its test points, the data
# of their YAML blocks and what it found wrong.
use strict;
use warnings;
use Data::Dumper;
use TAP::Parser;

$Data::Dumper::Sortkeys = $Data::Dumper::Terse = $Data::Dumper::Useqq = 1;
$Data::Dumper::Indent = 0;
my $parser = TAP::Parser->new({ exec => [ 'cat', $ARGV[0] ] });
while (my $result = $parser->next) {
    print(($result->is_ok ? 'ok ' : 'not ok '), $result->number, ' ', $result->description, "\n") if $result->is_test;
    print '  ', Dumper($result->data), "\n" if $result->is_yaml;
}
print "parse error: $_\n" for $parser->parse_errors;
