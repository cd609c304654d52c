# Loads a Homebrew formula with a stand-in for Homebrew's Formula class that
# records what the formula declares and which commands its install runs, and
# prints that as JSON. Nothing is built and nothing is fetched.
#   ruby formula_check.rb FORMULA
require "json"

module Kel
  RECORDED = { "depends_on" => [], "system" => [], "env" => [], "head" => nil }
end

class Formula
  def self.desc(text) = Kel::RECORDED["desc"] = text
  def self.homepage(url) = Kel::RECORDED["homepage"] = url
  def self.license(text) = Kel::RECORDED["license"] = text

  def self.head(url, **options)
    Kel::RECORDED["head"] = { "url" => url, "options" => options.transform_keys(&:to_s).transform_values(&:to_s) }
  end

  def self.depends_on(requirement)
    Kel::RECORDED["depends_on"] << (requirement.is_a?(Hash) ? requirement.to_h { |k, v| [k.to_s, v.to_s] } : requirement.to_s)
  end

  def self.test(&block) = Kel::RECORDED["test"] = !block.nil?

  def std_cmake_args = ["-DCMAKE_INSTALL_PREFIX=/prefix", "-DCMAKE_BUILD_TYPE=Release"]
  def system(*args) = Kel::RECORDED["system"] << args.map(&:to_s)
end

# Homebrew's ENV as far as an install uses it.
class KelEnv
  def permit_arch_flags = Kel::RECORDED["env"] << "permit_arch_flags"
end
Object.send(:remove_const, :ENV)
ENV = KelEnv.new

load ARGV.fetch(0)
formulae = ObjectSpace.each_object(Class).select { |c| c < Formula }
abort "formula_check: #{ARGV[0]} defines #{formulae.size} formulae" unless formulae.size == 1
formula = formulae.first
Kel::RECORDED["class"] = formula.name
Kel::RECORDED["caveats"] = formula.new.caveats if formula.method_defined?(:caveats)
formula.new.install
puts JSON.generate(Kel::RECORDED)
