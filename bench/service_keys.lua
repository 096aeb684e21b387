-- wrk script: each request asks for another keyword, so no single name range stays hot.
-- Set KAIWEI to the keyword position (starts, radom, end, startsend) before starting wrk.
local kaiwei = os.getenv("KAIWEI") or "starts"
local keys = { "zh", "an", "hao", "shop", "8", "li", "cloud", "xin", "ma", "go", "wang", "88",
               "tian", "a", "data", "yun", "ch", "love", "bei", "52" }
local i = 0

request = function()
  i = i % #keys + 1
  local path = "/s/?key=" .. keys[i] .. "&kaiwei=" .. kaiwei ..
               "&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0"
  return wrk.format("GET", path)
end
