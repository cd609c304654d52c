# The Homebrew formula: the universal library (arm64 and x86_64, macOS 14 and
# later) built with the macos preset, installed with the Perl host, the header,
# the CMake package, the pkg-config file and the man page.
#
# Until there is a release it builds from a checkout: scripts/brew-install puts
# this file into a local tap with `head` naming the checkout it runs from, then
# runs `brew install --HEAD`. A release adds `url` (the tag's archive) and its
# `sha256` beside `head`; see the README.
require "json"

class KelMediaremote < Formula
  desc "Bridge to the macOS now-playing service: JSON lines out, transport commands in"
  homepage "https://github.com/kel-mediaremote/kel-mediaremote"
  head "https://github.com/kel-mediaremote/kel-mediaremote.git", branch: "main"

  depends_on "cmake" => :build
  depends_on "pkgconf" => :test
  # The deployment target of the library.
  depends_on macos: :sonoma

  def install
    # The preset builds one file for both architectures; Homebrew's compiler
    # shims drop -arch flags unless allowed.
    ENV.permit_arch_flags
    # A compiler newer than the project's may warn where ours did not; an
    # install should not fail for that.
    system "cmake", "--preset", "macos", "-DKEL_WERROR=OFF", *std_cmake_args
    system "cmake", "--build", "--preset", "macos"
    system "cmake", "--install", "build/macos"
  end

  def caveats
    <<~EOS
      Run kel-mediaremote as a child process and read its lines: the host is a
      script for the system's Perl, which the now-playing service answers. A
      program that loads libkelmediaremote.dylib itself sees no player on
      macOS 15.4 and later unless the system answers that program.
    EOS
  end

  test do
    assert_match(/\Akel-mediaremote \d+\.\d+\.\d+\n\z/, shell_output("#{bin}/kel-mediaremote --version"))
    assert_match "Usage: kel-mediaremote", shell_output("#{bin}/kel-mediaremote --help")

    # One-shot: the state as the system's service gives it, or the unavailable
    # record where the service cannot be bound (status 2). The test sandbox may
    # keep the service from answering at all, and then the bridge ends after its
    # bound with no record: a silent service, which scripts/host-smoke takes too.
    output = shell_output("#{bin}/kel-mediaremote --once", nil)
    status = $CHILD_STATUS.exitstatus
    if status == 2
      assert_equal "{\"error\":\"unavailable\"}\n", output
    else
      assert_equal 0, status
      assert output.empty? || output.end_with?("\n"), "a cut line: #{output}"
      output.each_line do |line|
        record = JSON.parse(line)
        assert record.is_a?(Hash) && record.key?("bundle"), "not a record: #{line}"
      end
    end

    # The library, for programs that link it: one universal file whose only
    # export is the entry, found through pkg-config.
    library = lib/"libkelmediaremote.dylib"
    assert_equal %w[arm64 x86_64], Utils.safe_popen_read("lipo", "-archs", library).split.sort
    assert_match(/ _kel_mediaremote_run$/, Utils.safe_popen_read("nm", "-gU", "-arch", "arm64", library))
    (testpath/"consumer.c").write <<~C
      #include <kelmediaremote.h>
      int main(int argc, char **argv) {
        (void)argv;
        if (argc > 1) kel_mediaremote_run();
        return 0;
      }
    C
    flags = Utils.safe_popen_read("pkg-config", "--cflags", "--libs", "#{lib}/pkgconfig/kelmediaremote.pc").split
    system ENV.cc, "consumer.c", "-o", "consumer", *flags
    system "./consumer"
  end
end
